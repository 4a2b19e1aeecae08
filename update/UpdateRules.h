#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Http.h"
#include "platform/ModalAlert.h"
#include "update/UpdateInfo.h"

// The decisions of an update check (UpdateCheck), as functions of their inputs, so each rule can be
// tested alone.
namespace UpdateRules {

using Clock = std::chrono::system_clock;

// Automatic checks outside automation mode wait this long after the last accepted feed.
inline constexpr std::chrono::seconds checkInterval{72000};
inline constexpr double feedTimeoutSeconds = 10;
// A version feed is a few hundred bytes; an answer past this is not one.
inline constexpr std::size_t largestFeed = 1 << 20;

// Whether an automatic check is due: always in automation mode; otherwise when no check time is
// stored or at least `checkInterval` has passed since it. A stored time in the future keeps the
// check waiting until that time plus the interval.
bool isDue(const std::optional<Clock::time_point>& lastCheck, Clock::time_point now, bool automation);

// A date as stored in the settings file ("date:" and UTC with nanoseconds, for example
// "date:2024-05-01T12:00:00.000000123Z"), and back. Any other text is no date.
std::string encodeDate(Clock::time_point date);
std::optional<Clock::time_point> decodeDate(std::string_view text);

// The "User-Agent" header of the feed request.
std::string userAgent(const std::string& currentVersion);

// The record of an acceptable feed answer: an HTTP 200 with a body that decodes as a feed whose
// "url" lies on a trusted host. Nothing means the check failed.
std::optional<UpdateInfo> acceptedFeed(const platform::HttpReply& reply, bool automation);

enum class Path {
    upToDate,  // the feed's version is not newer
    skipped,   // an automatic check meets the version the user chose to skip
    install,   // in place, from `zip`
    offer,     // the offer alert
};

struct Choice {
    Path path;
    std::string zip;  // for `install`
};

// What an accepted feed leads to. `canInstallInPlace` is asked only when the feed's zip is usable.
Choice choosePath(const UpdateInfo& info, const std::string& currentVersion, bool manual,
                  const std::optional<std::string>& skippedVersion, bool automation,
                  const std::function<bool()>& canInstallInPlace);

enum class AfterInstall { relaunch, askToRestart, offer, nothing };

// What follows an in-place install: a failure falls back to the offer for manual checks only; a
// success restarts at once after a manual or launch check or in automation mode, and asks otherwise.
AfterInstall afterInstall(bool failed, bool manual, bool atLaunch, bool automation);

platform::AlertContent checkFailedAlert();
platform::AlertContent upToDateAlert(const std::string& currentVersion);
platform::AlertContent offerAlert(const UpdateInfo& info, const std::string& currentVersion);
platform::AlertContent installedAlert(const UpdateInfo& info);

// The system-log line after a failed in-place install.
std::string failureLogLine(const std::string& failureDescription);

// The title of the notification at a start into the version the updater installed, "Tolvar was
// updated to 2.0": only when the recorded version is the running one.
std::optional<std::string> updatedNotification(const std::optional<std::string>& installedVersion,
                                               const std::string& currentVersion);

}  // namespace UpdateRules
