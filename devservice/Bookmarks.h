#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

// What a bookmark is, and the rules every way of creating one (web API or web form) must pass.
namespace devservice {

struct BookmarkLimits {
    static constexpr std::size_t maxTitleCharacters = 512;
    static constexpr std::size_t maxTagCharacters = 64;
    static constexpr std::size_t maxTags = 32;
    static constexpr std::size_t maxAddressBytes = 8192;
    // Room for long clusters (emoji sequences, scripts with many marks), but no unbounded text.
    static constexpr std::size_t maxTitleBytes = 32 * maxTitleCharacters;
    static constexpr std::size_t maxTagBytes = 32 * maxTagCharacters;
};

// A bookmark as the user asked for it, already validated.
struct NewBookmark {
    std::string url;
    std::string title;
    std::vector<std::string> tags;
    bool readLater = false;
};

// A stored bookmark.
struct Bookmark {
    std::int64_t id = 0;
    std::string url;
    std::string title;
    std::vector<std::string> tags;
    bool readLater = false;
    std::string createdAt;  // ISO 8601, UTC, with milliseconds
};

// A refusal with a message meant for the person (or program) that sent the input.
struct InputError {
    std::string message;
};

template <typename T>
using Checked = std::variant<T, InputError>;

// Checks the fields of a new bookmark. An empty (or all-white-space) title becomes the address.
Checked<NewBookmark> validateBookmark(std::string url, std::string title, std::vector<std::string> tags,
                                      bool readLater);

// Reads the body of a batched create call: {"0":{"json":{"url":…,"title":…,"tags":[…],"isReadLater":…}}}.
// "title", "tags" and "isReadLater" may be left out; other keys are ignored.
Checked<NewBookmark> parseCreateCall(std::string_view body);

// Reads the body of a batched title lookup: {"0":{"json":{"url":…}}}. The address must be http or https.
Checked<std::string> parseFetchMetadataCall(std::string_view body);

// Splits the tags field of the web form at commas, spaces and line breaks, trims the pieces, drops
// empty ones and repeats (compared without regard to case); the first spelling wins.
std::vector<std::string> splitTagsField(std::string_view field);

// The JSON form of a stored bookmark, as the web API answers it.
nlohmann::json bookmarkJson(const Bookmark& bookmark);

}  // namespace devservice
