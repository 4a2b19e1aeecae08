// The update check as the application runs it: when it is due, the feed request, the handling of the
// answer on the main loop, the in-place install or the offer, and the alerts.

#include <cstdint>
#include <map>
#include <memory>

#include "automation/Commands.h"
#include "automation/E2E.h"
#include "platform/Http.h"
#include "platform/ProgressWindow.h"
#include "platform/Url.h"
#include "update/InstallProgress.h"
#include "update/SelfUpdate.h"
#include "update/UpdateCheck.h"
#include "update/UpdateFlow.h"
#include "update/UpdateRules.h"

namespace UpdateCheck {
namespace {

UpdateFlow::FlowServices& services() {
    static UpdateFlow::FlowServices current;
    return current;
}

// Shows one alert; in automation mode the journal notes it first, so a driver can tell which alert
// is up without looking at the screen.
int showAlert(const platform::AlertContent& alert) {
    E2E::report("update-alert", {{"message", alert.message}, {"informative", alert.informative}});
    return services().alert(alert);
}

std::optional<UpdateRules::Clock::time_point> lastCheck() {
    const auto stored = services().readSetting(std::string(lastCheckKey));
    if (!stored) return std::nullopt;
    return UpdateRules::decodeDate(*stored);
}

void offer(const UpdateInfo& info) {
    switch (showAlert(UpdateRules::offerAlert(info, currentVersion()))) {
        case 0:
            if (platform::parseURL(info.url)) services().openURL(info.url);
            break;
        case 2: services().writeSetting(std::string(skippedKey), info.version); break;
        default: break;
    }
}

const char* phaseName(InstallProgress::Phase phase) {
    switch (phase) {
        case InstallProgress::Phase::downloading: return "downloading";
        case InstallProgress::Phase::verifying: return "verifying";
        case InstallProgress::Phase::installing: return "installing";
    }
    return "";
}

// An install the user asked for: its window, what it shows, and the means to stop it.
struct ManualInstall {
    std::string version;
    std::shared_ptr<SelfUpdate::InstallControl> control = std::make_shared<SelfUpdate::InstallControl>();
    std::unique_ptr<platform::ProgressWindow> window;
    InstallProgress::Progress progress;
    bool cancelling = false;
    std::string reportedText;

    // Shows the current state; in automation mode the journal notes each new text of the bar.
    void refresh() {
        if (!window) return;
        const auto view = InstallProgress::viewOf(version, progress, cancelling);
        window->show({view.heading, view.barText, view.fraction, view.cancellable});
        const std::string shown = window->barText();
        if (shown == reportedText) return;
        reportedText = shown;
        E2E::report("update-progress", {{"version", version},
                                        {"phase", cancelling ? "cancelling" : phaseName(progress.phase)},
                                        {"received", progress.received},
                                        {"total", progress.total.value_or(0)},
                                        {"shown", shown}});
    }

    void cancel() {
        if (cancelling || !control->cancel()) return;
        cancelling = true;
        refresh();
    }
};

// The latest manual install, for the automation command that cancels it.
std::weak_ptr<ManualInstall>& latestManualInstall() {
    static std::weak_ptr<ManualInstall> latest;
    return latest;
}

std::shared_ptr<ManualInstall> openManualInstall(const std::string& version) {
    auto session = std::make_shared<ManualInstall>();
    session->version = version;
    if (services().progressWindow) {
        session->window = services().progressWindow("Updating Tolvar", [weak = std::weak_ptr(session)] {
            if (auto self = weak.lock()) self->cancel();
        });
    }
    session->refresh();
    latestManualInstall() = session;
    return session;
}

SelfUpdate::Watch watchOf(const std::shared_ptr<ManualInstall>& session) {
    return {.progress =
                [weak = std::weak_ptr(session)](const InstallProgress::Progress& progress) {
                    auto self = weak.lock();
                    if (!self || self->cancelling) return;
                    self->progress = progress;
                    self->refresh();
                },
            .control = session->control};
}

// The installs still running, each dropped (its thread joined) when it ends, or stopped when the
// application quits.
std::map<std::uint64_t, SelfUpdate::Worker>& runningInstalls() {
    static std::map<std::uint64_t, SelfUpdate::Worker> running;
    return running;
}

void installFinished(const UpdateInfo& info, bool manual, bool atLaunch,
                     const std::optional<SelfUpdate::Failure>& failure) {
    // A cancel is the user's own choice: nothing to report and nothing to offer.
    if (failure && failure->kind() == SelfUpdate::Failure::Kind::cancelled) return;
    // The next start compares this with its own version to tell that it was updated.
    if (!failure) services().writeSetting(std::string(installedVersionKey), info.version);
    if (failure) services().systemLog(UpdateRules::failureLogLine(failure->description()));
    switch (UpdateRules::afterInstall(failure.has_value(), manual, atLaunch, E2E::enabled())) {
        case UpdateRules::AfterInstall::relaunch: services().relaunch(); break;
        case UpdateRules::AfterInstall::askToRestart:
            if (showAlert(UpdateRules::installedAlert(info)) == 0) services().relaunch();
            break;
        case UpdateRules::AfterInstall::offer: offer(info); break;
        case UpdateRules::AfterInstall::nothing: break;
    }
}

void handleReply(const platform::HttpReply& reply, bool manual, bool atLaunch) {
    const bool automation = E2E::enabled();
    const auto info = UpdateRules::acceptedFeed(reply, automation);
    if (!info) {
        if (manual) showAlert(UpdateRules::checkFailedAlert());
        return;
    }
    services().writeSetting(std::string(lastCheckKey), UpdateRules::encodeDate(services().now()));
    const std::string current = currentVersion();
    const auto choice = UpdateRules::choosePath(*info, current, manual, services().readSetting(std::string(skippedKey)),
                                           automation, [] { return services().canInstallInPlace(); });
    switch (choice.path) {
        case UpdateRules::Path::upToDate:
            if (manual) showAlert(UpdateRules::upToDateAlert(current));
            break;
        case UpdateRules::Path::skipped: break;
        case UpdateRules::Path::offer: offer(*info); break;
        case UpdateRules::Path::install: {
            // Only the install the user asked for shows itself; automatic ones stay silent.
            const auto session = manual ? openManualInstall(info->version) : nullptr;
            static std::uint64_t installCount = 0;
            const std::uint64_t number = ++installCount;
            auto worker = services().install(
                choice.zip, info->version,
                [record = *info, manual, atLaunch, session, number](std::optional<SelfUpdate::Failure> failure) {
                    runningInstalls().erase(number);
                    if (session) session->window.reset();
                    installFinished(record, manual, atLaunch, failure);
                },
                session ? watchOf(session) : SelfUpdate::Watch{});
            if (worker.running()) runningInstalls().emplace(number, std::move(worker));
            break;
        }
    }
}

}  // namespace

void runIfDue(bool atLaunch) {
    if (UpdateRules::isDue(lastCheck(), services().now(), E2E::enabled())) run(false, atLaunch);
}

void run(bool manual, bool atLaunch) {
    services().fetch(feed(), {{"User-Agent", UpdateRules::userAgent(currentVersion())}},
                     UpdateRules::feedTimeoutSeconds, UpdateRules::largestFeed,
                     [manual, atLaunch](platform::HttpReply reply) { handleReply(reply, manual, atLaunch); });
}

void announceInstalledUpdate() {
    const auto installed = services().readSetting(std::string(installedVersionKey));
    if (!installed || installed->empty()) return;
    // Cleared first, so the announcement is made at most once.
    services().writeSetting(std::string(installedVersionKey), "");
    if (const auto title = UpdateRules::updatedNotification(installed, currentVersion())) services().notify("updated", *title);
}

void stopInstalls() { runningInstalls().clear(); }

void registerAutomationCommands() {
    auto& commands = E2E::commands();
    commands.add("check-for-updates", [](const std::string&) { run(true, false); });
    commands.add("cancel-update", [](const std::string&) {
        if (const auto session = latestManualInstall().lock(); session && session->window) session->window->clickCancel();
    });
}

}  // namespace UpdateCheck

namespace UpdateFlow {

void setFlowServices(FlowServices replacement) { UpdateCheck::services() = std::move(replacement); }

}  // namespace UpdateFlow
