#include "quicksave/QuickSaveLogic.h"

#include <algorithm>
#include <memory>
#include <set>

#include <nlohmann/json.hpp>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include "core/Browsers.h"
#include "core/WebAddress.h"
#include "core/Json.h"
#include "core/Text.h"
#include "platform/Url.h"

std::ostream& operator<<(std::ostream& out, const SaveOutcome& outcome) {
    switch (outcome.kind()) {
        case SaveOutcome::Kind::saved: return out << "saved";
        case SaveOutcome::Kind::alreadySaved: return out << "alreadySaved";
        case SaveOutcome::Kind::failed: return out << "failed(\"" << outcome.message() << "\")";
    }
    return out;
}

namespace {

// ---- Characters --------------------------------------------------------------------------------

// White space and line breaks: tab, line feed, vertical tab, form feed, carriage return, next line
// and every Unicode space, line or paragraph separator.
bool isWhiteSpaceOrLineBreak(UChar32 c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    const auto type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

// Spaces and tabs: the Unicode space separators and the character tabulation.
bool isSpaceOrTab(UChar32 c) { return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR; }

// `text` (valid UTF-8) without the scalars that `strip` selects at either end.
std::string_view trimmedUTF8(std::string_view text, bool (*strip)(UChar32)) {
    const char* bytes = text.data();
    int32_t start = 0;
    int32_t end = static_cast<int32_t>(text.size());
    while (start < end) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, end, c);
        if (!strip(c)) break;
        start = next;
    }
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (!strip(c)) break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

icu::UnicodeString trimmed(const icu::UnicodeString& text, bool (*strip)(UChar32)) {
    int32_t start = 0;
    int32_t end = text.length();
    while (start < end) {
        const UChar32 c = text.char32At(start);
        if (!strip(c)) break;
        start += U16_LENGTH(c);
    }
    while (end > start) {
        const UChar32 c = text.char32At(end - 1);
        if (!strip(c)) break;
        end -= U16_LENGTH(c);
    }
    return icu::UnicodeString(text, start, end - start);  // a copy: `text` may be a temporary
}

icu::UnicodeString fromUTF8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// The comparison key of a tag: its lower-case form under the locale-independent Unicode mapping,
// in canonical composition, so that canonically equivalent texts share one key.
std::string tagKey(const icu::UnicodeString& tag) {
    icu::UnicodeString lower(tag);
    lower.toLower(icu::Locale::getRoot());
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString composed = nfc->normalize(lower, status);
        if (U_SUCCESS(status)) return toUTF8(composed);
    }
    return toUTF8(lower);
}

// ---- JSON --------------------------------------------------------------------------------------

// The reply as a JSON array or object; nothing when it is not valid UTF-8 JSON, nests too deep, or
// is a bare scalar.
std::optional<nlohmann::json> parseReply(std::string_view text) {
    auto document = core::parseJSON(text);
    if (!document || !(document->is_array() || document->is_object())) return std::nullopt;
    return document;
}

// The member `key` of `object` when `object` is a JSON object that has it; otherwise null.
const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

}  // namespace

namespace QuickSaveLogic {

std::string_view trimmedWhiteSpace(std::string_view text) { return trimmedUTF8(text, isWhiteSpaceOrLineBreak); }

std::vector<std::string> characters(std::string_view text) {
    const icu::UnicodeString whole = fromUTF8(text);
    std::vector<std::string> result;
    auto iterator = core::characterIterator();
    if (!iterator) return result;
    iterator->setText(whole);
    for (int32_t start = iterator->first(), end = iterator->next(); end != icu::BreakIterator::DONE;
         start = end, end = iterator->next()) {
        result.push_back(toUTF8(whole.tempSubStringBetween(start, end)));
    }
    return result;
}

std::optional<std::string> tabScript(std::string_view bundleId) {
    static constexpr std::string_view frontDocumentTail =
        "\" to return {URL of front document, name of front document}";
    static constexpr std::string_view activeTabTail =
        "\" to return {URL of active tab of front window, title of active tab of front window}";

    const auto* browser = core::browserForIdentifier(bundleId);
    if (browser == nullptr) return std::nullopt;
    std::string script = "tell application \"";
    script += browser->applicationName;
    script += browser->asksFrontDocument ? frontDocumentTail : activeTabTail;
    return script;
}

std::optional<std::string> cleanedWebURL(std::string_view text) {
    if (!core::isValidUTF8(text)) return std::nullopt;
    const auto candidate = trimmedUTF8(text, isWhiteSpaceOrLineBreak);
    // The parser reads a C string, so a NUL byte would hide the rest of the text from it.
    if (candidate.empty() || candidate.find('\0') != std::string_view::npos) return std::nullopt;
    const auto parsed = platform::parseURL(std::string(candidate));
    if (!parsed || !core::isWebAddress(parsed->scheme, parsed->host.has_value())) return std::nullopt;
    return std::string(candidate);
}

std::vector<std::string> parseTags(std::string_view text) {
    const icu::UnicodeString whole = fromUTF8(text);
    std::vector<std::string> tags;
    std::set<std::string> seenKeys;

    // Answers true once the list is full.
    auto take = [&](int32_t start, int32_t end) {
        const icu::UnicodeString piece = trimmed(whole.tempSubStringBetween(start, end), isSpaceOrTab);
        if (piece.isEmpty()) return false;
        std::string tag = toUTF8(piece);
        if (core::leadingCharacters(tag, longestTag).size() < tag.size()) return false;
        if (!seenKeys.insert(tagKey(piece)).second) return false;
        tags.push_back(std::move(tag));
        return tags.size() >= mostTags;
    };

    // Only a character that is exactly a comma, a space or a line feed separates: a space that
    // carries a combining mark, or a carriage return with its line feed, is one other character.
    auto isSeparator = [&](int32_t start, int32_t end) {
        if (end - start != 1) return false;
        const char16_t c = whole.charAt(start);
        return c == u',' || c == u' ' || c == u'\n';
    };

    auto iterator = core::characterIterator();
    int32_t pieceStart = 0;
    if (iterator) {
        iterator->setText(whole);
        for (int32_t start = iterator->first(), end = iterator->next(); end != icu::BreakIterator::DONE;
             start = end, end = iterator->next()) {
            if (!isSeparator(start, end)) continue;
            if (start > pieceStart && take(pieceStart, start)) return tags;
            pieceStart = end;
        }
    } else {
        for (int32_t start = 0; start < whole.length(); start = whole.moveIndex32(start, 1)) {
            const int32_t end = whole.moveIndex32(start, 1);
            if (!isSeparator(start, end)) continue;
            if (start > pieceStart && take(pieceStart, start)) return tags;
            pieceStart = end;
        }
    }
    if (whole.length() > pieceStart) take(pieceStart, whole.length());
    return tags;
}

std::optional<std::string> createBody(std::string_view url, std::string_view title,
                                      const std::vector<std::string>& tags, bool readLater) {
    if (!core::isValidUTF8(url) || !core::isValidUTF8(title)) return std::nullopt;

    std::string_view chosenTitle = trimmedUTF8(title, isWhiteSpaceOrLineBreak);
    if (chosenTitle.empty()) chosenTitle = url;

    // Ordered so the body reads in the same order as it is described: url, title, tags, flag.
    nlohmann::ordered_json input = nlohmann::ordered_json::object();
    input["url"] = std::string(url);
    input["title"] = core::leadingCharacters(chosenTitle, longestTitle);
    if (!tags.empty()) input["tags"] = tags;
    if (readLater) input["isReadLater"] = true;

    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["0"]["json"] = std::move(input);
    try {
        // The strict handler refuses a tag that is not valid UTF-8 instead of writing it.
        return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    } catch (const nlohmann::ordered_json::exception&) {
        return std::nullopt;
    }
}

SaveOutcome outcome(std::string_view response, std::int64_t httpStatus) {
    const auto document = parseReply(response);
    const bool arrayOfObjects = document && document->is_array() && !document->empty() &&
                                std::all_of(document->begin(), document->end(),
                                            [](const nlohmann::json& element) { return element.is_object(); });
    if (!arrayOfObjects) {
        if (httpStatus == notSignedInStatus) return SaveOutcome::failed(std::string(signInFirst));
        return SaveOutcome::failed("Unexpected response (HTTP " + std::to_string(httpStatus) + ").");
    }

    const nlohmann::json& first = document->front();
    if (const auto* error = member(first, "error"); error && error->is_object()) {
        std::string message(noMessage);
        if (const auto* json = member(*error, "json"))
            if (const auto* text = member(*json, "message"); text && text->is_string())
                message = text->get<std::string>();
        if (httpStatus == notSignedInStatus || message == notSignedInMessage)
            return SaveOutcome::failed(std::string(signInFromMenu));
        return SaveOutcome::failed(std::move(message));
    }

    const nlohmann::json* level = member(first, "result");
    for (const char* key : {"data", "json", "alreadyExists"}) {
        if (!level) break;
        level = member(*level, key);
    }
    if (level && level->is_boolean() && level->get<bool>()) return SaveOutcome::alreadySaved();
    return SaveOutcome::saved();
}

}  // namespace QuickSaveLogic
