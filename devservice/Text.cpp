#include "devservice/Text.h"

#include <algorithm>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include "core/Text.h"

namespace devservice::text {
namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

// Length in bytes of the well-formed character that `s` starts with, or 0 when it starts with an
// ill-formed sequence. Only the length the first byte announces can be well-formed on its own.
std::size_t leadingCharacterLength(std::string_view s) {
    for (std::size_t n = 1; n <= std::min<std::size_t>(4, s.size()); ++n) {
        if (core::isValidUTF8(s.substr(0, n))) return n;
    }
    return 0;
}

bool isCookieOctet(unsigned char c) {
    // %x21 / %x23-2B / %x2D-3A / %x3C-5B / %x5D-7E
    return c == 0x21 || (c >= 0x23 && c <= 0x2B) || (c >= 0x2D && c <= 0x3A) || (c >= 0x3C && c <= 0x5B) ||
           (c >= 0x5D && c <= 0x7E);
}

}  // namespace

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string sanitizeUtf8(std::string_view bytes) {
    if (core::isValidUTF8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto n = leadingCharacterLength(bytes.substr(i));
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::size_t graphemeCount(std::string_view utf8) {
    const auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) return static_cast<std::size_t>(text.countChar32());
    it->setText(text);
    std::size_t count = 0;
    for (auto pos = it->next(); pos != icu::BreakIterator::DONE; pos = it->next()) ++count;
    return count;
}

bool fitsGraphemes(std::string_view utf8, std::size_t limit) {
    // A character takes at least one byte, so short texts need no segmentation.
    if (utf8.size() <= limit) return true;
    return graphemeCount(utf8) <= limit;
}

std::string foldForComparison(std::string_view utf8) {
    auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    text.toLower(icu::Locale::getRoot());
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status) && nfc) {
        auto normalised = nfc->normalize(text, status);
        if (U_SUCCESS(status)) text = normalised;
    }
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2])) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string percentEncodeComponent(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

std::string percentEncodeUnsafe(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    static const std::string_view unsafe = "\"<>\\^`{|}";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || unsafe.find(static_cast<char>(c)) != std::string_view::npos) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

FormFields decodeForm(std::string_view text) {
    FormFields fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('&', start);
        if (end == std::string_view::npos) end = text.size();
        const auto pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const auto eq = pair.find('=');
            if (eq == std::string_view::npos) {
                fields.emplace_back(percentDecode(pair, true), std::string());
            } else {
                fields.emplace_back(percentDecode(pair.substr(0, eq), true), percentDecode(pair.substr(eq + 1), true));
            }
        }
        start = end + 1;
    }
    return fields;
}

std::optional<std::string> formValue(const FormFields& fields, std::string_view name) {
    for (const auto& [key, value] : fields) {
        if (key == name) return value;
    }
    return std::nullopt;
}

std::vector<std::string> cookieValues(std::string_view cookieHeader, std::string_view name) {
    std::vector<std::string> values;
    std::size_t start = 0;
    while (start < cookieHeader.size()) {
        auto end = cookieHeader.find(';', start);
        if (end == std::string_view::npos) end = cookieHeader.size();
        const auto item = trimAscii(cookieHeader.substr(start, end - start));
        const auto eq = item.find('=');
        if (eq != std::string_view::npos && trimAscii(item.substr(0, eq)) == name) {
            auto value = trimAscii(item.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            values.emplace_back(value);
        }
        start = end + 1;
    }
    return values;
}

bool isCookieSafe(std::string_view value) {
    if (value.empty() || value.size() > 512) return false;
    for (char c : value) {
        if (!isCookieOctet(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool isWebAddress(std::string_view address) {
    for (char ch : address) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F) return false;
    }
    const auto colon = address.find(':');
    if (colon == std::string_view::npos) return false;
    const auto scheme = core::asciiLowercased(address.substr(0, colon));
    if (scheme != "http" && scheme != "https") return false;
    auto rest = address.substr(colon + 1);
    if (rest.substr(0, 2) != "//") return false;
    rest.remove_prefix(2);
    const auto authorityEnd = rest.find_first_of("/?#");
    auto authority = rest.substr(0, authorityEnd);
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);

    std::string_view host;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        host = authority.substr(1, close - 1);
        const auto after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return false;
            port = after.substr(1);
        }
    } else {
        const auto portColon = authority.rfind(':');
        host = authority.substr(0, portColon);
        if (portColon != std::string_view::npos) port = authority.substr(portColon + 1);
    }
    if (host.empty()) return false;
    if (host.find_first_of("[]") != std::string_view::npos) return false;
    if (port.size() > 5) return false;
    unsigned long portNumber = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        portNumber = portNumber * 10 + static_cast<unsigned long>(c - '0');
    }
    return portNumber <= 65535;
}

std::string_view trimAscii(std::string_view text) {
    static const std::string_view space = " \t\n\v\f\r";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

bool isSafeFileName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name.front() == '.') return false;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    }
    return true;
}

std::string contentTypeForFileName(std::string_view name) {
    const auto dot = name.rfind('.');
    const auto ext = dot == std::string_view::npos ? std::string() : core::asciiLowercased(name.substr(dot + 1));
    if (ext == "json") return "application/json";
    if (ext == "zip") return "application/zip";
    if (ext == "html" || ext == "htm") return "text/html; charset=utf-8";
    if (ext == "txt") return "text/plain; charset=utf-8";
    if (ext == "css") return "text/css; charset=utf-8";
    if (ext == "js") return "text/javascript; charset=utf-8";
    if (ext == "png") return "image/png";
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    if (ext == "gif") return "image/gif";
    if (ext == "svg") return "image/svg+xml";
    if (ext == "pdf") return "application/pdf";
    return "application/octet-stream";
}

}  // namespace devservice::text
