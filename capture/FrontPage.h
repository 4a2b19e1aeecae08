#pragma once

#include <optional>
#include <string>
#include <variant>

#include "platform/PageCapture.h"

// Quick save's two questions about the desktop, answered by capture's rules from what the window
// system tells of the active window.
namespace capture {

// The identifier of the application in front: this program's own for its own windows, a known
// browser's reverse-DNS identifier, otherwise the window's class; where other programs' windows are
// hidden (Wayland), the browser whose extension last reported the focus. Nothing when none is known.
std::optional<std::string> frontApplicationId(const platform::ActiveWindow& active);

// The page that the browser `requestText` names shows, or the number of the capture error.
std::variant<platform::CapturedPage, int> captureFrontPage(const std::string& requestText,
                                                           const platform::ActiveWindow& active);

}  // namespace capture
