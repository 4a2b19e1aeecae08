#include "app/MainWindowCommands.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>

#include "app/ServiceEndpoints.h"
#include "platform/Url.h"

namespace MainWindowCommands {
namespace {

bool isWhitespaceOrNewline(UChar32 c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    const auto type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

std::string lowercasedASCII(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    return text;
}

}  // namespace

double zoomedIn(double factor) { return factor + 0.1; }

double zoomedOut(double factor) { return std::max(factor - 0.1, minimumZoom); }

std::string newBookmarkURL() {
    return platform::buildURL("https", std::string(ServiceEndpoints::serviceHost),
                              std::string(ServiceEndpoints::newBookmarkPath));
}

std::optional<std::string> clipboardBookmarkURL(const std::optional<std::string>& clipboard) {
    if (!clipboard) return std::nullopt;
    const std::string address = trimmedWhitespace(*clipboard);
    const auto parsed = platform::parseURL(address);
    if (!parsed) return std::nullopt;
    const std::string scheme = lowercasedASCII(parsed->scheme);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    return platform::buildURL("https", std::string(ServiceEndpoints::serviceHost),
                              std::string(ServiceEndpoints::newBookmarkPath), {{"url", address}});
}

std::string trimmedWhitespace(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        end = previous;
    }
    return text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

}  // namespace MainWindowCommands
