#include "devservice/Bookmarks.h"

#include <set>

#include "devservice/Text.h"
#include "core/Json.h"
#include "core/Text.h"

namespace devservice {
namespace {

using nlohmann::json;

const char* const batchShapeMessage = "Expected a batched call of the form {\"0\":{\"json\":{...}}}.";

// The call's input object of a batched body, or the reason it cannot be read.
Checked<json> callInput(std::string_view body) {
    // Depth-limited: a body of nested brackets must not exhaust the stack.
    auto parsed = core::parseJSON(body);
    if (!parsed) return InputError{"The request body is not valid JSON, or nests too deeply."};
    auto& document = *parsed;
    if (!document.is_object()) return InputError{batchShapeMessage};
    const auto call = document.find("0");
    if (call == document.end() || !call->is_object()) return InputError{batchShapeMessage};
    const auto input = call->find("json");
    if (input == call->end() || !input->is_object()) return InputError{batchShapeMessage};
    return std::move(*input);
}

Checked<std::string> checkedAddress(const json& input) {
    const auto url = input.find("url");
    if (url == input.end() || url->is_null()) return InputError{"\"url\" is required."};
    if (!url->is_string()) return InputError{"\"url\" must be a string."};
    return url->get<std::string>();
}

std::optional<InputError> addressProblem(const std::string& url) {
    if (url.size() > BookmarkLimits::maxAddressBytes) {
        return InputError{"\"url\" is longer than " + std::to_string(BookmarkLimits::maxAddressBytes) + " bytes."};
    }
    if (!text::isWebAddress(url)) {
        return InputError{"\"url\" must be an http or https address with a host, without spaces."};
    }
    return std::nullopt;
}

}  // namespace

Checked<NewBookmark> validateBookmark(std::string url, std::string title, std::vector<std::string> tags,
                                      bool readLater) {
    if (auto problem = addressProblem(url)) return *problem;
    for (const auto* field : {&url, &title}) {
        if (!core::isValidUTF8(*field)) return InputError{"Texts must be valid UTF-8."};
    }
    if (text::trimAscii(title).empty()) title = url;
    // Bytes first: one character may carry any number of combining marks.
    if (title.size() > BookmarkLimits::maxTitleBytes) {
        return InputError{"\"title\" is longer than " + std::to_string(BookmarkLimits::maxTitleBytes) + " bytes."};
    }
    if (!text::fitsGraphemes(title, BookmarkLimits::maxTitleCharacters)) {
        return InputError{"\"title\" is longer than " + std::to_string(BookmarkLimits::maxTitleCharacters) +
                          " characters."};
    }
    if (tags.size() > BookmarkLimits::maxTags) {
        return InputError{"At most " + std::to_string(BookmarkLimits::maxTags) + " tags are allowed; got " +
                          std::to_string(tags.size()) + "."};
    }
    for (const auto& tag : tags) {
        if (!core::isValidUTF8(tag)) return InputError{"Texts must be valid UTF-8."};
        if (text::trimAscii(tag).empty()) return InputError{"A tag must not be empty."};
        if (tag.size() > BookmarkLimits::maxTagBytes) {
            return InputError{"A tag is longer than " + std::to_string(BookmarkLimits::maxTagBytes) + " bytes."};
        }
        if (!text::fitsGraphemes(tag, BookmarkLimits::maxTagCharacters)) {
            return InputError{"A tag is longer than " + std::to_string(BookmarkLimits::maxTagCharacters) +
                              " characters."};
        }
    }
    return NewBookmark{std::move(url), std::move(title), std::move(tags), readLater};
}

Checked<NewBookmark> parseCreateCall(std::string_view body) {
    auto input = callInput(body);
    if (auto* error = std::get_if<InputError>(&input)) return *error;
    const auto& fields = std::get<json>(input);

    auto url = checkedAddress(fields);
    if (auto* error = std::get_if<InputError>(&url)) return *error;

    std::string title;
    if (const auto it = fields.find("title"); it != fields.end() && !it->is_null()) {
        if (!it->is_string()) return InputError{"\"title\" must be a string."};
        title = it->get<std::string>();
    }

    std::vector<std::string> tags;
    if (const auto it = fields.find("tags"); it != fields.end() && !it->is_null()) {
        if (!it->is_array()) return InputError{"\"tags\" must be a list of strings."};
        for (const auto& tag : *it) {
            if (!tag.is_string()) return InputError{"\"tags\" must be a list of strings."};
            tags.push_back(tag.get<std::string>());
        }
    }

    bool readLater = false;
    if (const auto it = fields.find("isReadLater"); it != fields.end() && !it->is_null()) {
        if (!it->is_boolean()) return InputError{"\"isReadLater\" must be true or false."};
        readLater = it->get<bool>();
    }

    return validateBookmark(std::move(std::get<std::string>(url)), std::move(title), std::move(tags), readLater);
}

Checked<std::string> parseFetchMetadataCall(std::string_view body) {
    auto input = callInput(body);
    if (auto* error = std::get_if<InputError>(&input)) return *error;
    auto url = checkedAddress(std::get<json>(input));
    if (auto* error = std::get_if<InputError>(&url)) return *error;
    if (auto problem = addressProblem(std::get<std::string>(url))) return *problem;
    return url;
}

std::vector<std::string> splitTagsField(std::string_view field) {
    std::vector<std::string> tags;
    std::set<std::string> seen;
    std::size_t start = 0;
    while (start <= field.size()) {
        auto end = field.find_first_of(", \n\r", start);
        if (end == std::string_view::npos) end = field.size();
        const auto piece = text::trimAscii(field.substr(start, end - start));
        if (!piece.empty() && seen.insert(text::foldForComparison(piece)).second) tags.emplace_back(piece);
        start = end + 1;
    }
    return tags;
}

nlohmann::json bookmarkJson(const Bookmark& bookmark) {
    return json{{"id", bookmark.id},
                {"url", bookmark.url},
                {"title", bookmark.title},
                {"tags", bookmark.tags},
                {"isReadLater", bookmark.readLater},
                {"createdAt", bookmark.createdAt}};
}

}  // namespace devservice
