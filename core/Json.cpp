#include "core/Json.h"

namespace core {
namespace {

// Whether no array or object in `text` opens deeper than `limit`. Brackets inside strings do not
// count; malformed text is left for the parser to refuse.
bool nestingWithin(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char ch : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (ch == '\\') escaped = true;
            else if (ch == '"') inString = false;
            continue;
        }
        switch (ch) {
            case '"': inString = true; break;
            case '[':
            case '{':
                if (++depth > limit) return false;
                break;
            case ']':
            case '}':
                if (depth > 0) --depth;
                break;
            default: break;
        }
    }
    return true;
}

}  // namespace

std::optional<nlohmann::json> parseJSON(std::string_view text) {
    // nlohmann's parser recurses once per level, so depth is checked before it runs.
    if (!nestingWithin(text, deepestJSON)) return std::nullopt;
    // Invalid UTF-8 inside strings is a parse error: nlohmann's reader checks every string it reads.
    nlohmann::json document = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded()) return std::nullopt;
    return document;
}

}  // namespace core
