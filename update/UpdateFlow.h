#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Http.h"
#include "platform/ProgressWindow.h"
#include "update/SelfUpdate.h"
#include "update/UpdateRules.h"

// What the update check (UpdateCheck::run and UpdateCheck::runIfDue) reaches outside itself, apart
// from the settings file and the alerts (which have their own test answerer): the clock, the feed
// request, the installer, the relaunch, the browser, the system log, the progress window of a manual
// install and the desktop notification. The application uses the
// real ones; a test puts its own in place to drive a check's whole flow in milliseconds and to see
// what it asked for.
namespace UpdateFlow {

struct FlowServices {
    std::function<UpdateRules::Clock::time_point()> now;
    std::function<void(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
                       double timeoutSeconds, std::size_t largestBody, std::function<void(platform::HttpReply)> done)>
        fetch;
    std::function<bool()> canInstallInPlace;
    std::function<SelfUpdate::Worker(const std::string& zipURL, const std::string& expectedVersion,
                                     SelfUpdate::Completion, SelfUpdate::Watch)>
        install;
    std::function<void()> relaunch;
    std::function<void(const std::string& url)> openURL;
    std::function<void(const std::string& line)> systemLog;
    // Nothing makes a manual install run without a window.
    std::function<std::unique_ptr<platform::ProgressWindow>(const std::string& title, std::function<void()> cancel)>
        progressWindow;
    std::function<void(const std::string& id, const std::string& title)> notify;
};

// The real collaborators: the system clock, platform::httpGet, SelfUpdate, the default handler for
// addresses, syslog, a toolkit window and the application's notifications.
FlowServices processServices();

// Puts `services` in place for every later check; `processServices()` puts the real ones back.
// Main thread only.
void setFlowServices(FlowServices services);

}  // namespace UpdateFlow
