#pragma once

#include <optional>
#include <string>
#include <variant>

namespace platform {

// What a browser answered about its front page: address and title.
struct CapturedPage {
    std::string address;
    std::string title;
};

// Identifier of the application whose window is active: this program's own identifier for its own
// windows, a reverse-DNS browser identifier for known browsers, otherwise the window's class.
// Nothing when no window is active.
std::optional<std::string> frontmostApplicationId();

// Runs a page-capture request (a scripting text naming a browser) and answers the page, or an
// error number when the browser could not be asked.
std::variant<CapturedPage, int> runCaptureRequest(const std::string& requestText);

}  // namespace platform
