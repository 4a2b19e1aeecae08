#pragma once

#include <optional>
#include <string>

#include "platform/Geometry.h"

// What the program asks of the desktop outside its own windows.
namespace platform {

// The usable area of the primary monitor (without panels and docks); nothing without a display.
std::optional<Rect> mainScreenVisibleFrame();

// The plain text on the clipboard, if any.
std::optional<std::string> clipboardText();

// Opens an address with the user's default handler for its scheme (the default browser for web
// addresses). Failures are ignored.
void openWithDefaultHandler(const std::string& url);

}  // namespace platform
