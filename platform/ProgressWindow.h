#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

struct ProgressContent {
    std::string heading;
    std::string barText;
    std::optional<double> fraction;  // 0 to 1; nothing makes the bar pulse
    bool cancellable = true;
};

// A small window with a heading, a progress bar and a Cancel button, shown while it exists. Main
// thread only.
class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    virtual void show(const ProgressContent& content) = 0;
    // The bar's text as the window holds it.
    virtual std::string barText() const = 0;
    // Clicks Cancel, as the user does.
    virtual void clickCancel() = 0;
};

// `cancel` runs when Cancel is clicked or the window is closed while cancelling is allowed.
std::unique_ptr<ProgressWindow> createProgressWindow(const std::string& title, std::function<void()> cancel);

}  // namespace platform
