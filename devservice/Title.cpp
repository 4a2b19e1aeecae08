#include "devservice/Title.h"

#include <cstdint>
#include <iterator>
#include <utility>

#include "devservice/Text.h"

namespace devservice::title {
namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lowerAscii(text[i]) != lowerAscii(prefix[i])) return false;
    }
    return true;
}

std::size_t findIgnoringCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty()) return from;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        if (startsWithIgnoringCase(text.substr(i), needle)) return i;
    }
    return std::string_view::npos;
}

// True when `text` starts with "<name" followed by the end of the tag name.
bool startsTag(std::string_view text, std::string_view name) {
    if (text.size() < name.size() + 2 || text[0] != '<') return false;
    if (!startsWithIgnoringCase(text.substr(1), name)) return false;
    const char next = text[name.size() + 1];
    return next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\n' || next == '\r' || next == '\f';
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The named references that turn up in titles: markup characters, typography, and the Latin-1
// letters and signs (U+00A0 to U+00FF, in code point order).
const std::pair<std::string_view, std::uint32_t> namedEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},      {"apos", '\''},
    {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013},  {"lsquo", 0x2018},
    {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"sbquo", 0x201A},  {"bdquo", 0x201E},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"bull", 0x2022}, {"euro", 0x20AC},  {"zwj", 0x200D},
    {"zwnj", 0x200C},  {"thinsp", 0x2009}, {"ensp", 0x2002}, {"emsp", 0x2003},
};

constexpr std::string_view latin1Names[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

std::optional<std::uint32_t> namedEntity(std::string_view name) {
    for (const auto& [entity, value] : namedEntities) {
        if (name == entity) return value;
    }
    for (std::size_t i = 0; i < std::size(latin1Names); ++i) {
        if (name == latin1Names[i]) return static_cast<std::uint32_t>(0xA0 + i);
    }
    return std::nullopt;
}

bool isLatin1Family(const std::string& charset) {
    return charset == "iso-8859-1" || charset == "iso8859-1" || charset == "latin1" || charset == "latin-1" ||
           charset == "l1" || charset == "windows-1252" || charset == "cp1252";
}

std::string charsetFrom(std::string_view text) {
    const auto at = findIgnoringCase(text, "charset=", 0);
    if (at == std::string_view::npos) return {};
    auto value = text.substr(at + 8);
    while (!value.empty() && (value.front() == '"' || value.front() == '\'' || value.front() == ' ')) {
        value.remove_prefix(1);
    }
    std::string out;
    for (char c : value) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.' || c == ':';
        if (!ok) break;
        out += lowerAscii(c);
    }
    return out;
}

}  // namespace

std::optional<std::string_view> rawTitleElement(std::string_view html) {
    std::size_t i = 0;
    while ((i = html.find('<', i)) != std::string_view::npos) {
        const auto rest = html.substr(i);
        if (rest.substr(0, 4) == "<!--") {
            const auto end = html.find("-->", i + 4);
            if (end == std::string_view::npos) return std::nullopt;
            i = end + 3;
            continue;
        }
        bool skipped = false;
        for (std::string_view raw : {std::string_view("script"), std::string_view("style")}) {
            if (startsTag(rest, raw)) {
                const std::string closing = "</" + std::string(raw);
                const auto end = findIgnoringCase(html, closing, i + 1);
                if (end == std::string_view::npos) return std::nullopt;
                i = end + closing.size();
                skipped = true;
                break;
            }
        }
        if (skipped) continue;
        if (startsTag(rest, "title")) {
            const auto open = html.find('>', i);
            if (open == std::string_view::npos) return std::nullopt;
            const auto close = findIgnoringCase(html, "</title", open + 1);
            if (close == std::string_view::npos) return std::nullopt;
            return html.substr(open + 1, close - open - 1);
        }
        ++i;
    }
    return std::nullopt;
}

std::string decodeEntities(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        const auto semicolon = text.find(';', i + 1);
        if (semicolon == std::string_view::npos || semicolon - i > 12) {
            out += text[i++];
            continue;
        }
        const auto body = text.substr(i + 1, semicolon - i - 1);
        std::optional<std::uint32_t> cp;
        if (body.size() >= 2 && body[0] == '#') {
            const bool hex = body[1] == 'x' || body[1] == 'X';
            const auto digits = body.substr(hex ? 2 : 1);
            std::uint64_t value = 0;
            bool ok = !digits.empty() && digits.size() <= 8;
            for (char c : digits) {
                if (!ok) break;
                if (c >= '0' && c <= '9') {
                    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(c - '0');
                } else if (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
                    value = value * 16 + static_cast<std::uint64_t>(lowerAscii(c) - 'a' + 10);
                } else {
                    ok = false;
                }
            }
            if (ok) {
                const bool usable = value != 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
                cp = usable ? static_cast<std::uint32_t>(value) : 0xFFFD;
            }
        } else {
            cp = namedEntity(body);
        }
        if (!cp) {
            out += text[i++];
            continue;
        }
        appendUtf8(out, *cp);
        i = semicolon + 1;
    }
    return out;
}

std::string collapseWhitespace(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool pendingSpace = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool nbsp = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xA0;
        if (c <= 0x20 || c == 0x7F || nbsp) {
            if (nbsp) ++i;
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) {
            out += ' ';
            pendingSpace = false;
        }
        out += static_cast<char>(c);
    }
    return out;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) appendUtf8(out, static_cast<unsigned char>(ch));
    return out;
}

std::string declaredCharset(std::string_view contentType, std::string_view html) {
    auto fromHeader = charsetFrom(contentType);
    if (!fromHeader.empty()) return fromHeader;
    return charsetFrom(html.substr(0, 4096));
}

std::optional<std::string> titleOfDocument(std::string_view html, std::string_view contentType) {
    const auto raw = rawTitleElement(html);
    if (!raw) return std::nullopt;
    const auto charset = declaredCharset(contentType, html);
    const auto utf8 = isLatin1Family(charset) ? latin1ToUtf8(*raw) : text::sanitizeUtf8(*raw);
    return collapseWhitespace(decodeEntities(utf8));
}

}  // namespace devservice::title
