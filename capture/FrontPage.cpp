#include "capture/FrontPage.h"

#include "capture/BrowserCapture.h"
#include "core/ApplicationId.h"
#include "core/Browsers.h"

namespace capture {

std::optional<std::string> frontApplicationId(const platform::ActiveWindow& active) {
    if (active.ours) return std::string(core::applicationId);
    // The browser extension's reports say which browser has the focus when its window cannot be read.
    if (active.othersHidden) return frontBrowserFromReports();
    if (!active.windowClass) return std::nullopt;
    if (const auto* browser = core::browserForWindowClass(*active.windowClass)) return std::string(browser->identifier);
    return active.windowClass;
}

std::variant<platform::CapturedPage, int> captureFrontPage(const std::string& requestText,
                                                           const platform::ActiveWindow& active) {
    // The active browser's own profile folder may hold its debugging endpoint's announcement when
    // it runs with a --user-data-dir of its own.
    const auto answer = capturePage(requestText, profileFoldersOfProcess(active.process));
    if (const auto* failure = std::get_if<CaptureError>(&answer)) return static_cast<int>(*failure);
    const auto& page = std::get<Page>(answer);
    return platform::CapturedPage{page.address, page.title};
}

}  // namespace capture
