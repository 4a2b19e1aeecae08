// The main web view's requests for the desktop: downloads, file inputs and page dialogs.
#include <system_error>

#include "app/AppDelegate.h"
#include "app/Downloads.h"
#include "automation/E2E.h"
#include "platform/Services.h"

void AppDelegate::decideDownloadDestination(const std::string& suggestedFilename,
                                            platform::DownloadDestinationReply reply) {
    if (const auto& dir = E2E::dir()) {
        const auto destination = Downloads::automationDestination(*dir, suggestedFilename);
        // An earlier download of the same name gives way; when it cannot, the download still goes
        // to the same place and replaces it there.
        std::error_code ignored;
        std::filesystem::remove(destination, ignored);
        reply(destination);
        return;
    }
    platform::services().runSaveFileChooser(*window, suggestedFilename, std::move(reply));
}

// A download keeps the page awake: it belongs to the page's session.
void AppDelegate::downloadStarted() { pageSleep_->downloadStarted(); }

void AppDelegate::downloadFinished() {
    pageSleep_->downloadEnded();
    E2E::report("download-finished");
}

void AppDelegate::downloadFailed(const std::string& errorText) {
    pageSleep_->downloadEnded();
    // A failed download is never resumed.
    E2E::report("download-failed", {{"error", errorText}});
}

void AppDelegate::runFileChooser(const platform::FileInputRequest& request, platform::FileInputReply reply) {
    if (E2E::enabled()) {
        if (const auto upload = platform::services().environmentValue("TOLVAR_E2E_UPLOAD")) {
            E2E::report("open-panel", {{"file", Downloads::lastPathComponent(*upload)}});
            std::error_code noCurrentDirectory;
            const auto here = std::filesystem::current_path(noCurrentDirectory);
            reply(std::vector{Downloads::automationUpload(*upload, here)});
            return;
        }
    }
    platform::services().runOpenFileChooser(*window, request, std::move(reply));
}

void AppDelegate::runAlert(const std::string& message, std::function<void()> done) {
    platform::services().runAlertDialog(*window, message, std::move(done));
}

void AppDelegate::runConfirm(const std::string& message, std::function<void(bool)> done) {
    platform::services().runConfirmDialog(*window, message, std::move(done));
}

void AppDelegate::runPrompt(const std::string& prompt, const std::optional<std::string>& defaultText,
                            std::function<void(std::optional<std::string>)> done) {
    platform::services().runTextInputDialog(*window, prompt, defaultText, std::move(done));
}
