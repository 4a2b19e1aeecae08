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

// Shows a desktop notification with this title through the application (the desktop's notification
// service, or its portal in a sandbox). A later one with the same id replaces it.
void sendNotification(const std::string& id, const std::string& title);

// Makes the application's windows and pages light or dark as the desktop's colour-scheme setting
// asks (the Settings portal), following its changes; GTK's own setting where the portal has none.
void followDesktopColourScheme();

}  // namespace platform
