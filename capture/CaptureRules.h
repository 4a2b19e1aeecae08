#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Browsers.h"

// The rules of the page capture on Linux: which browser a capture request names, what the browser
// extension may report through the native-messaging host and how that report is stored, which
// report may be offered, and how a browser's remote-debugging endpoint is read. Everything here is
// pure: no file, socket, window or clock, so each rule is tested on its own.
namespace capture {

// Why a capture found no page. The numbers are what the quick-save panel records as its browser
// error; the README lists them with what the user can do.
enum class CaptureError : int {
    unsupportedRequest = 1,   // the request names no browser that can be asked on this system
    noSource = 2,             // no usable extension report and no remote-debugging endpoint
    endpointUnreachable = 3,  // the endpoint refused, timed out or answered something unreadable
    noFocusedPage = 4,        // the endpoint answered, but none of its pages has the focus
};

// The application name of a capture request: the text between `tell application "` and the next
// double quote, when the request has that head and a non-empty name. Nothing otherwise.
std::optional<std::string> requestApplicationName(std::string_view requestText);

// The native-messaging host's name, the extension's identifiers and the limits of a message.
inline constexpr std::string_view hostName = "app.tolvar.desktop.capture";
// The Chromium id follows from the key that signs the bundle's extension, so the build defines it.
extern const std::string_view chromiumExtensionId;
inline constexpr std::string_view firefoxExtensionId = "capture@tolvar.app";
inline constexpr std::size_t longestMessage = 1024 * 1024;  // bytes of one message's JSON
inline constexpr std::size_t longestText = 64 * 1024;       // bytes of an address or a title

// What the extension reported about one browser: the active tab of its last focused normal window.
// An empty address means the browser's focus moved where the extension may not look (a private
// window, a developer-tools window, another application), so no tab may be offered.
struct Report {
    std::string browser;     // a key of the browser table (core::Browser::key)
    std::string address;
    std::string title;
    double focused = 0;      // the browser's last focus change, milliseconds since 1970, as reported
    double received = 0;     // when the host stored the report, milliseconds since 1970
    std::int64_t pid = 0;    // the browser process that started the host; 0 when unknown
};

// A message from the extension, as the host accepts it: a JSON object with the string "browser"
// (a key of the browser table), the strings "address" and "title" (each at most `longestText`
// bytes) and the number "focused" (finite, not negative). Anything else is rejected with the
// reason; fields beyond these are ignored. Values nested deeper than the top level are never kept,
// so a deeply nested message costs no stack.
struct MessageVerdict {
    std::optional<Report> report;
    std::string rejection;  // empty when accepted
};
MessageVerdict reportFromMessage(std::string_view message);

// Which browser a message speaks for: the browser that started the host when its executable is
// known (the extension cannot tell Vivaldi from Chromium), else the one the message names.
std::string reportingBrowser(std::string_view messageBrowser, std::string_view parentExecutable);

// The state file's text for a report, and a report read back from it; nothing when the text is not
// a stored report.
std::string encodeStoredReport(const Report& report);
std::optional<Report> decodeStoredReport(std::string_view text);

// The page a stored report offers: only a report with an address, whose browser process still
// runs (or is unknown), and whose focus time is not in the future of `now` by more than a minute.
struct Page {
    std::string address;
    std::string title;
};
std::optional<Page> offeredPage(const Report& report, double now, bool browserProcessRuns);

// The browser in front when the active window cannot be read (no X11): among the browsers' latest
// reports, one that offers a page (so its window has the focus: the extension empties its report
// when the focus leaves the browser); when several do, the one whose focus came last. Nothing when
// none does.
struct ReportSighting {
    Report report;
    bool browserProcessRuns = false;
};
std::optional<Report> focusedBrowserReport(const std::vector<ReportSighting>& latestReports, double now);

// The port in a "DevToolsActivePort" file: its first line, a decimal number from 1 to 65535.
std::optional<int> devToolsPort(std::string_view fileText);

// A page target of the endpoint's "/json/list" answer.
struct DevToolsPage {
    std::string id;
    std::string address;
    std::string title;
};
// The page targets of a "/json/list" answer, in the endpoint's order (most recently active
// first); targets of other types and ids that are not plain tokens are left out. Nothing when the
// answer is not a JSON array.
std::optional<std::vector<DevToolsPage>> devToolsPages(std::string_view answer);

// The boolean value that the endpoint's answer to `Runtime.evaluate` with id `id` carries; nothing
// for any other message.
std::optional<bool> evaluatedBoolean(std::string_view message, int id);

// The profile folders that a browser's command line names with --user-data-dir.
std::vector<std::filesystem::path> userDataFolders(const std::vector<std::string>& arguments);

// A native-messaging host manifest: where it goes and its text.
struct HostManifest {
    std::string browserKey;
    std::filesystem::path file;
    std::string text;
};
// The host manifests for every browser, pointing at `hostExecutable`: the Chromium family's under
// `configHome`/<browser folder>/NativeMessagingHosts, Firefox's under `home`/.mozilla.
std::vector<HostManifest> hostManifests(const std::filesystem::path& hostExecutable,
                                        const std::filesystem::path& home, const std::filesystem::path& configHome);

}  // namespace capture
