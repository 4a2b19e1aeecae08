#pragma once

#include <string>

// Pages of the application's own, shown in the main web view in place of one that cannot be shown.
namespace ApplicationPage {

// A plain page: a heading, a message, and one button that reloads the address the page stands in for.
// Each line of the message becomes a paragraph. Every text is escaped; the page follows the
// desktop's light or dark style.
std::string render(const std::string& heading, const std::string& message, const std::string& buttonLabel);

// Text with the characters that mean something in HTML replaced by references.
std::string escapedHTML(const std::string& text);

}  // namespace ApplicationPage
