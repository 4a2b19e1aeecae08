// The update check as the application runs it: when it is due, the feed request, the handling of the
// answer on the main loop, the in-place install or the offer, and the alerts.

#include <memory>

#include "automation/E2E.h"
#include "platform/Desktop.h"
#include "platform/Http.h"
#include "platform/ModalAlert.h"
#include "platform/Settings.h"
#include "platform/SystemLog.h"
#include "platform/Url.h"
#include "update/SelfUpdate.h"
#include "update/UpdateCheck.h"
#include "update/UpdateFlow.h"
#include "update/UpdateRules.h"

namespace UpdateCheck {
namespace {

UpdateFlow::FlowServices& services() {
    static UpdateFlow::FlowServices current = UpdateFlow::processServices();
    return current;
}

// Shows one alert; in automation mode the journal notes it first, so a driver can tell which alert
// is up without looking at the screen.
int showAlert(const platform::AlertContent& alert) {
    E2E::report("update-alert", {{"message", alert.message}, {"informative", alert.informative}});
    return platform::runModalAlert(alert);
}

std::optional<UpdateRules::Clock::time_point> lastCheck() {
    const auto stored = platform::readSetting(std::string(lastCheckKey));
    if (!stored) return std::nullopt;
    return UpdateRules::decodeDate(*stored);
}

void offer(const UpdateInfo& info) {
    switch (showAlert(UpdateRules::offerAlert(info, currentVersion()))) {
        case 0:
            if (platform::parseURL(info.url)) services().openURL(info.url);
            break;
        case 2: platform::writeSetting(std::string(skippedKey), info.version); break;
        default: break;
    }
}

void installFinished(const UpdateInfo& info, bool manual, bool atLaunch,
                     const std::optional<SelfUpdate::Failure>& failure) {
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
    platform::writeSetting(std::string(lastCheckKey), UpdateRules::encodeDate(services().now()));
    const std::string current = currentVersion();
    const auto choice = UpdateRules::choosePath(*info, current, manual, platform::readSetting(std::string(skippedKey)),
                                           automation, [] { return services().canInstallInPlace(); });
    switch (choice.path) {
        case UpdateRules::Path::upToDate:
            if (manual) showAlert(UpdateRules::upToDateAlert(current));
            break;
        case UpdateRules::Path::skipped: break;
        case UpdateRules::Path::offer: offer(*info); break;
        case UpdateRules::Path::install:
            services().install(choice.zip, info->version,
                                [record = *info, manual, atLaunch](std::optional<SelfUpdate::Failure> failure) {
                                    installFinished(record, manual, atLaunch, failure);
                                });
            break;
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

}  // namespace UpdateCheck

namespace UpdateFlow {

FlowServices processServices() {
    return FlowServices{
        .now = [] { return UpdateRules::Clock::now(); },
        .fetch = platform::httpGet,
        .canInstallInPlace = [] { return SelfUpdate::canInstallInPlace(); },
        .install = SelfUpdate::install,
        .relaunch = [] { SelfUpdate::relaunch(); },
        .openURL = platform::openWithDefaultHandler,
        .systemLog = platform::systemLog,
    };
}

void setFlowServices(FlowServices replacement) { UpdateCheck::services() = std::move(replacement); }

}  // namespace UpdateFlow
