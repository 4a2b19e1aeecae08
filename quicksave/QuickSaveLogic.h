#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The result of one save attempt: saved, already saved, or failed with the message shown to the
// user verbatim. Only a failure carries a message, so two outcomes are equal when they are the same
// case and, for failures, their messages are the same text.
class SaveOutcome {
public:
    enum class Kind { saved, alreadySaved, failed };

    static SaveOutcome saved() { return SaveOutcome(Kind::saved, {}); }
    static SaveOutcome alreadySaved() { return SaveOutcome(Kind::alreadySaved, {}); }
    static SaveOutcome failed(std::string message) { return SaveOutcome(Kind::failed, std::move(message)); }

    Kind kind() const { return kind_; }
    // The text to show; empty unless the outcome is a failure.
    const std::string& message() const { return message_; }

    friend bool operator==(const SaveOutcome&, const SaveOutcome&) = default;

private:
    SaveOutcome(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind_;
    std::string message_;
};

std::ostream& operator<<(std::ostream& out, const SaveOutcome& outcome);

// The rules of a quick save. Every function is pure: no window, file or network, safe on any
// thread, and none throws. Texts go in and come out as UTF-8.
namespace QuickSaveLogic {

inline constexpr std::size_t longestTag = 64;     // characters
inline constexpr std::size_t mostTags = 32;
inline constexpr std::size_t longestTitle = 512;  // characters
inline constexpr std::int64_t notSignedInStatus = 401;
inline constexpr std::string_view notSignedInMessage = "UNAUTHORIZED";
inline constexpr std::string_view noMessage = "Could not save.";
inline constexpr std::string_view signInFirst = "Sign in to Tolvar first.";
inline constexpr std::string_view signInFromMenu = "Sign in to Tolvar first (open Tolvar from the menu bar).";

// `text` without white space and line breaks at either end: tab, line feed, vertical tab, form
// feed, carriage return, next line, and the Unicode space, line and paragraph separators.
std::string_view trimmedWhiteSpace(std::string_view text);

// The user-perceived characters (extended grapheme clusters) of `text`, in order.
std::vector<std::string> characters(std::string_view text);

// The request that asks a browser for the address and title of its front page, or nothing when
// the bundle identifier (compared exactly) names no supported browser.
std::optional<std::string> tabScript(std::string_view bundleId);

// `text` without surrounding white space and line breaks, when that is an http or https address
// with a host; otherwise nothing. The address comes back as written, never rebuilt.
std::optional<std::string> cleanedWebURL(std::string_view text);

// The tags of the tags field: split at commas, spaces and line feeds, trimmed, at most 64
// characters each, duplicates (ignoring case and canonical equivalence) dropped with the first form
// kept, and at most 32 of them. Ill-formed UTF-8 is read with U+FFFD in place of each bad sequence.
std::vector<std::string> parseTags(std::string_view text);

// The compact JSON body of the bookmark-create call. Nothing when a text is not valid UTF-8.
std::optional<std::string> createBody(std::string_view url, std::string_view title,
                                      const std::vector<std::string>& tags, bool readLater);

// What the reply to the create call means. A reply that is not valid UTF-8 JSON counts as one that
// did not parse.
SaveOutcome outcome(std::string_view response, std::int64_t httpStatus);

}  // namespace QuickSaveLogic
