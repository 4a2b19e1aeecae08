#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Small text helpers of the development service: escaping, form and cookie decoding, web-address
// checks and counting user-perceived characters. None of them touches GLib or libsoup.
namespace devservice::text {

// Escapes the five characters that matter in HTML text and attribute values.
std::string htmlEscape(std::string_view text);

// Replaces every byte of an ill-formed UTF-8 sequence with U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

// Number of user-perceived characters (extended grapheme clusters) in UTF-8 text.
std::size_t graphemeCount(std::string_view utf8);

// True when the text holds at most `limit` user-perceived characters.
bool fitsGraphemes(std::string_view utf8, std::size_t limit);

// Lower-cased (locale-independent) and NFC-normalised form, used to compare tags.
std::string foldForComparison(std::string_view utf8);

// Percent-decoding; with `plusIsSpace` a "+" becomes a space, as in form bodies and queries.
// Malformed escapes are kept literally.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// Percent-encodes everything except the unreserved characters (A-Z a-z 0-9 - . _ ~).
std::string percentEncodeComponent(std::string_view text);

// Percent-encodes the bytes that may not stand raw in a Location header or an address: controls,
// space, non-ASCII bytes and " < > \ ^ ` { | }. Everything else, including existing escapes, stays.
std::string percentEncodeUnsafe(std::string_view text);

using FormFields = std::vector<std::pair<std::string, std::string>>;

// Decodes an application/x-www-form-urlencoded text (a form body or a query string).
FormFields decodeForm(std::string_view text);

// The first value of `name` in the fields, if any.
std::optional<std::string> formValue(const FormFields& fields, std::string_view name);

// Every value of the cookie `name` in a Cookie header, in order of appearance.
std::vector<std::string> cookieValues(std::string_view cookieHeader, std::string_view name);

// True for a cookie value made only of RFC 6265 cookie-octets, 1 to 512 of them.
bool isCookieSafe(std::string_view value);

// True when `address` is an http or https address with a host. Spaces and control characters
// anywhere make it fail; the scheme is compared without regard to case.
bool isWebAddress(std::string_view address);

// Trims ASCII white space (space, tab, line feed, vertical tab, form feed, carriage return).
std::string_view trimAscii(std::string_view text);

// True when `name` can be used as a single file name inside a served folder: not empty, at most
// 255 bytes, no "/" or "\", no NUL or other control character, and not starting with ".".
bool isSafeFileName(std::string_view name);

// Content type for a served file, chosen by its extension.
std::string contentTypeForFileName(std::string_view name);

}  // namespace devservice::text
