#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Http.h"
#include "platform/ModalAlert.h"
#include "platform/ProgressWindow.h"
#include "update/SelfUpdate.h"
#include "update/UpdateRules.h"

// What the update check (UpdateCheck::run and UpdateCheck::runIfDue) reaches outside itself: the
// clock, the settings, the feed request, the installer, the relaunch, the browser, the system log,
// the alerts, the progress window of a manual install and the desktop notification. The application
// puts the real ones in place before it starts (app/ProcessServices.cpp); a test puts its own in
// place to drive a check's whole flow in milliseconds and to see what it asked for.
namespace UpdateFlow {

struct FlowServices {
    std::function<UpdateRules::Clock::time_point()> now;
    // The user's settings, where the last check, a skipped version and an installed one are kept.
    std::function<std::optional<std::string>(const std::string& key)> readSetting;
    std::function<bool(const std::string& key, const std::string& value)> writeSetting;
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
    // Shows an application-modal alert and answers the chosen button's index, or -1.
    std::function<int(const platform::AlertContent&)> alert;
    // Nothing makes a manual install run without a window.
    std::function<std::unique_ptr<platform::ProgressWindow>(const std::string& title, std::function<void()> cancel)>
        progressWindow;
    std::function<void(const std::string& id, const std::string& title)> notify;
};

// Puts `services` in place for every later check. Main thread only.
void setFlowServices(FlowServices services);

}  // namespace UpdateFlow
