// The page's sleep: its web process is ended while nobody looks at the window or saves, and the
// page comes back, signed in, when the window or the quick-save panel needs it.
#include "app/AppDelegate.h"
#include "app/NavigationPolicy.h"
#include "automation/Commands.h"
#include "automation/E2E.h"
#include "core/WebAddress.h"
#include "platform/Services.h"
#include "core/Text.h"
#include "platform/Url.h"

namespace {

constexpr double pageRequestTimeout = 60;
constexpr double wakeLoadDelay = 0.25;

}  // namespace

void AppDelegate::createPageSleep() {
    // The delay is shortened only for tests, in automation mode.
    const auto delayText = E2E::enabled() ? platform::services().environmentValue(std::string(PageSleep::delayVariable))
                                          : std::nullopt;
    const auto weakSelf = weak_from_this();
    pageSleep_ = std::make_shared<PageSleep>(
        PageSleep::Actions{.suspend =
                               [weakSelf](PageSleep::Reason reason) {
                                   if (auto self = weakSelf.lock()) self->pageSuspended(reason);
                               },
                           .wake =
                               [weakSelf](PageSleep::Reason reason) {
                                   if (auto self = weakSelf.lock()) self->pageWoken(reason);
                               }},
        PageSleep::delayFrom(delayText));
    quickSaveView_ = std::make_shared<WakingWebView>(*webView, pageSleep_);
}

void AppDelegate::pageSuspended(PageSleep::Reason reason) {
    if (reason != PageSleep::Reason::backgroundStart) {
        // Back to the page the user last saw on the service; anywhere else, back to the start.
        const std::string shown = webView->currentURL();
        const auto parsed = platform::parseURL(shown);
        const bool onService = parsed && core::isWebAddress(parsed->scheme, parsed->host.has_value()) &&
                               NavigationPolicy::isInAppHost(core::asciiLowercased(*parsed->host), service.host);
        resumeAddress_ = onService ? shown : "";
        // A page that failed to load is tried again when the page wakes, not while it sleeps.
        loadRecovery_->loadSucceeded();
        webView->suspendPage();
    }
    E2E::report("engine-suspended", {{"reason", std::string(PageSleep::name(reason))}});
}

void AppDelegate::pageWoken(PageSleep::Reason reason) {
    E2E::report("engine-resumed", {{"reason", std::string(PageSleep::name(reason))}});
    // Starting the web process blocks the main loop for a moment, and GTK draws and shows windows
    // only when the loop is otherwise idle: the panel or window that woke the page goes up first.
    platform::services().runAfter(wakeLoadDelay, [weakSelf = weak_from_this()] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (!self->firstPageShown_) return self->showFirstPage();
        // The session lives in the network process, which the sleep left running.
        self->webView->load(self->resumeAddress_.empty() ? startAddress(self->service) : self->resumeAddress_,
                            pageRequestTimeout);
    });
}

void AppDelegate::registerWindowCommands() {
    auto& commands = E2E::commands();
    const auto weakSelf = weak_from_this();
    commands.add("show-window", [weakSelf](const std::string&) {
        if (auto self = weakSelf.lock()) self->window->present();
    });
    commands.add("close-window", [weakSelf](const std::string&) {
        if (auto self = weakSelf.lock()) self->window->hide();
    });
}
