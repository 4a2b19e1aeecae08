#pragma once

#include <optional>
#include <string>
#include <string_view>

// Finding a page's title in the bytes of an HTML document, for the title lookup of the web API.
namespace devservice::title {

// The raw text between the first <title ...> and its closing </title> outside comments, scripts
// and style sheets, or nothing when the document (so far) holds no complete title element.
std::optional<std::string_view> rawTitleElement(std::string_view html);

// Decodes numeric character references and the common named entities; unknown entities stay.
std::string decodeEntities(std::string_view text);

// Turns every run of white space, control characters and no-break spaces into one space and trims
// both ends.
std::string collapseWhitespace(std::string_view text);

// ISO 8859-1 (and, close enough for titles, windows-1252) bytes to UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

// The charset named by a Content-Type value or by a <meta charset> / <meta http-equiv> in the
// document's head, lower-cased; empty when none is named.
std::string declaredCharset(std::string_view contentType, std::string_view html);

// The page title ready to answer: decoded to UTF-8 from the declared charset (UTF-8 unless a
// Latin-1 family charset is named), entities decoded, white space collapsed. Nothing when the
// document holds no complete title element.
std::optional<std::string> titleOfDocument(std::string_view html, std::string_view contentType);

}  // namespace devservice::title
