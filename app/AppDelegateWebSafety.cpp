// The web engine's safety and recovery: private data folders, the page sandbox, and what happens
// when the page's process ends.
#include "app/AppDelegate.h"
#include "app/ApplicationPage.h"
#include "automation/E2E.h"
#include "platform/PrivateStore.h"
#include "platform/Services.h"
#include "platform/SystemLog.h"

namespace {

constexpr const char* applicationFolderName = "tolvar";
constexpr double networkRestartGrace = 1;

}  // namespace

void AppDelegate::secureDataFolders() {
    const auto folders = platform::applicationFolders(applicationFolderName);
    const std::string stamp = platform::fileTimeStamp();
    for (const auto& folder : folders) {
        platform::makePrivate(folder);
        // A store that is not a database would keep the user signed out for good: it makes way
        // for a fresh one and stays beside it.
        for (const auto& moved : platform::setAsideDamagedStores(folder, stamp)) {
            platform::systemLog("Tolvar moved a damaged web data store aside: " + moved.string());
        }
    }
}

bool AppDelegate::decideSandbox() {
    sandboxProblem = platform::services().webSandboxProblem();
    if (!sandboxProblem) return true;
    const bool userAccepts = platform::services().environmentValue(std::string(sandboxOptOutVariable)).value_or("") == "1";
    E2E::report("web-sandbox-unavailable", {{"reason", *sandboxProblem}, {"runningWithout", userAccepts}});
    if (userAccepts) sandboxProblem.reset();
    return false;
}

void AppDelegate::showSandboxProblem() {
    const std::string message =
        "Tolvar shows web pages only inside a sandbox (bubblewrap), and the sandbox cannot start on this "
        "system: " + *sandboxProblem +
        ". Usually the system does not allow unprivileged user namespaces. Allow them (for example "
        "\"sudo sysctl -w kernel.unprivileged_userns_clone=1\" or \"sudo sysctl -w user.max_user_namespaces=15000\", "
        "see \"Web content sandbox\" in Tolvar's README) and start Tolvar again, or start it with " +
        std::string(sandboxOptOutVariable) + "=1 to show pages without the sandbox.";
    webView->showApplicationPage(ApplicationPage::render("Web pages can't be shown safely", message, "Reload"),
                                 startAddress(service));
}

void AppDelegate::webProcessEnded(const std::string& reason) {
    E2E::report("web-process-ended", {{"reason", reason}, {"url", webView->currentURL()}});
    if (sandboxProblem) return showSandboxProblem();
    switch (webProcessRecovery.processEnded(WebProcessRecovery::Clock::now())) {
        case WebProcessRecovery::Action::reload: webView->reload(); break;
        case WebProcessRecovery::Action::showFailurePage: {
            const std::string message = "The page's process ended (" + reason + ") " +
                                        std::to_string(WebProcessRecovery::endingsBeforeGivingUp) +
                                        " times within a minute, so Tolvar stopped loading it again.";
            webView->showApplicationPage(ApplicationPage::render("This page stopped working", message, "Reload"),
                                         webView->currentURL());
            break;
        }
    }
}

void AppDelegate::networkProcessEnded() {
    // The engine learns that its network process ended through its own connection, a moment after
    // this notice; a cookie sent in between goes to the ended process and is lost. So the session is
    // planted at once, for the next request, and once more when the engine has surely noticed.
    plantSession([weakSelf = weak_from_this()](bool) {
        platform::services().runAfter(networkRestartGrace, [weakSelf] {
            auto self = weakSelf.lock();
            if (!self) return;
            self->plantSession(
                [](bool planted) { E2E::report("network-process-ended", {{"sessionPlanted", planted}}); });
        });
    });
}
