#pragma once

#include <string>

namespace ApplicationPage {
// A plain page: a heading, a message, and one button that reloads the address the page stands in for.
std::string render(const std::string& heading, const std::string& message, const std::string& buttonLabel);
}
