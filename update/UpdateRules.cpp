#include "update/UpdateRules.h"

#include <cstdio>

#include "platform/Url.h"
#include "update/UpdateCheck.h"
#include "update/Version.h"

namespace UpdateRules {

bool isDue(const std::optional<Clock::time_point>& lastCheck, Clock::time_point now, bool automation) {
    if (automation) return true;
    if (!lastCheck) return true;
    return now - *lastCheck >= checkInterval;
}

std::string encodeDate(Clock::time_point date) {
    using namespace std::chrono;
    const auto since = duration_cast<nanoseconds>(date.time_since_epoch());
    const auto day = floor<days>(since);
    const year_month_day calendar{sys_days{day}};
    auto rest = since - day;
    const auto hour = duration_cast<hours>(rest);
    rest -= hour;
    const auto minute = duration_cast<minutes>(rest);
    rest -= minute;
    const auto second = duration_cast<seconds>(rest);
    rest -= second;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "date:%04d-%02u-%02uT%02lld:%02lld:%02lld.%09lldZ",
                  static_cast<int>(calendar.year()), static_cast<unsigned>(calendar.month()),
                  static_cast<unsigned>(calendar.day()), static_cast<long long>(hour.count()),
                  static_cast<long long>(minute.count()), static_cast<long long>(second.count()),
                  static_cast<long long>(rest.count()));
    return buffer;
}

std::optional<Clock::time_point> decodeDate(std::string_view text) {
    using namespace std::chrono;
    // date:YYYY-MM-DDTHH:MM:SS.NNNNNNNNNZ, with a sign for years before 0 not supported.
    constexpr std::string_view pattern = "date:####-##-##T##:##:##.#########Z";
    if (text.size() != pattern.size()) return std::nullopt;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '#' ? (text[i] < '0' || text[i] > '9') : text[i] != pattern[i]) return std::nullopt;
    }
    auto number = [&](std::size_t from, std::size_t count) {
        long long value = 0;
        for (std::size_t i = from; i < from + count; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    const year_month_day calendar{year{static_cast<int>(number(5, 4))}, month{static_cast<unsigned>(number(10, 2))},
                                  day{static_cast<unsigned>(number(13, 2))}};
    const long long h = number(16, 2), m = number(19, 2), s = number(22, 2), n = number(25, 9);
    if (!calendar.ok() || h > 23 || m > 59 || s > 59) return std::nullopt;
    const auto point = sys_days{calendar} + hours{h} + minutes{m} + seconds{s} + nanoseconds{n};
    return time_point_cast<Clock::duration>(point);
}

std::string userAgent(const std::string& currentVersion) { return "TolvarDesktop/" + currentVersion + " (Linux)"; }

std::optional<UpdateInfo> acceptedFeed(const platform::HttpReply& reply, bool automation) {
    if (reply.error || !reply.isHttp) return std::nullopt;
    if (reply.status != 200 || !reply.body || reply.body->empty()) return std::nullopt;
    auto info = UpdateInfo::decode(*reply.body);
    if (!info) return std::nullopt;
    if (!platform::parseURL(info->url) || !UpdateCheck::detail::trustedHost(info->url, automation)) return std::nullopt;
    return info;
}

Choice choosePath(const UpdateInfo& info, const std::string& currentVersion, bool manual,
                  const std::optional<std::string>& skippedVersion, bool automation,
                  const std::function<bool()>& canInstallInPlace) {
    if (!isNewerVersion(info.version, currentVersion)) return {Path::upToDate, {}};
    if (!manual && skippedVersion && *skippedVersion == info.version) return {Path::skipped, {}};
    if (info.zip && platform::parseURL(*info.zip) && UpdateCheck::detail::trustedHost(*info.zip, automation) && canInstallInPlace()) {
        return {Path::install, *info.zip};
    }
    return {Path::offer, {}};
}

AfterInstall afterInstall(bool failed, bool manual, bool atLaunch, bool automation) {
    if (failed) return manual ? AfterInstall::offer : AfterInstall::nothing;
    if (manual || atLaunch || automation) return AfterInstall::relaunch;
    return AfterInstall::askToRestart;
}

platform::AlertContent checkFailedAlert() {
    return {"Couldn't check for updates", "Please check your internet connection and try again.", {"OK"}};
}

platform::AlertContent upToDateAlert(const std::string& currentVersion) {
    return {"You're up to date", "Tolvar " + currentVersion + " is the latest version.", {"OK"}};
}

platform::AlertContent offerAlert(const UpdateInfo& info, const std::string& currentVersion) {
    std::string informative = "You have " + currentVersion + ".";
    if (info.notes) informative += "\n\n" + *info.notes;
    informative += "\n\nDownload the new version, unzip it, and run Tolvar.app/bin/tolvar --install to replace this one.";
    return {"Tolvar " + info.version + " is available", informative, {"Download", "Later", "Skip This Version"}};
}

platform::AlertContent installedAlert(const UpdateInfo& info) {
    std::string informative = "Restart Tolvar now to start using it?";
    if (info.notes) informative += "\n\n" + *info.notes;
    return {"Tolvar " + info.version + " is installed", informative, {"Restart Now", "Later"}};
}

std::string failureLogLine(const std::string& failureDescription) {
    return "Tolvar self-update failed: " + failureDescription;
}

std::optional<std::string> updatedNotification(const std::optional<std::string>& installedVersion,
                                               const std::string& currentVersion) {
    if (!installedVersion || installedVersion->empty() || *installedVersion != currentVersion) return std::nullopt;
    return "Tolvar was updated to " + currentVersion;
}

}  // namespace UpdateRules
