#include "capture/CaptureRules.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "capture/NativeMessaging.h"
#include "quicksave/QuickSaveLogic.h"
#include "tests/support/AppProcess.h"

using namespace capture;
using nlohmann::json;

namespace {

std::string goodMessage() {
    return R"({"browser":"chromium","address":"https://example.org/a","title":"A page","focused":1700000000000})";
}

}  // namespace

TEST(CaptureRequest, TheBrowserIsKnownByTheRequestsApplicationOrItsWindowClass) {
    for (const auto& [id, key] : std::map<std::string, std::string>{
             {"com.google.Chrome", "chrome"}, {"com.brave.Browser", "brave"}, {"com.microsoft.edgemac", "edge"},
             {"com.vivaldi.Vivaldi", "vivaldi"}, {"org.chromium.Chromium", "chromium"}, {"org.mozilla.firefox", "firefox"},
             {"com.apple.Safari", ""}, {"company.thebrowser.Browser", ""}}) {
        const auto name = requestApplicationName(*QuickSaveLogic::tabScript(id));
        ASSERT_TRUE(name) << id;
        const auto* browser = core::browserForApplicationName(*name);
        EXPECT_EQ(browser ? browser->key : "", key) << *name;
    }
    EXPECT_EQ(core::browserForApplicationName("chromium"), nullptr);  // names compare exactly
    for (const auto& [windowClass, identifier] : std::map<std::string, std::string>{
             {"Google-chrome", "com.google.Chrome"}, {"chromium-browser", "org.chromium.Chromium"},
             {"firefox-esr", "org.mozilla.firefox"}, {"Gnome-terminal", ""}, {"", ""}, {"chromium2", ""}}) {
        const auto* browser = core::browserForWindowClass(windowClass);
        EXPECT_EQ(browser ? browser->identifier : "", identifier) << windowClass;
    }
    for (const char* text : {"", "tell application \"\" to return", "tell application \"Chromium",
                             "Tell application \"Chromium\" to", "tell application Chromium to return"}) {
        EXPECT_EQ(requestApplicationName(text), std::nullopt) << text;
    }
    // A report speaks for the browser that started the host, when its executable is known.
    for (const auto& [named, parent, browser] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"chromium", "vivaldi-bin", "vivaldi"}, {"chromium", "chrome", "chrome"}, {"firefox", "firefox-esr", "firefox"},
             {"brave", "capture_tests", "brave"}, {"edge", "", "edge"}}) {
        EXPECT_EQ(reportingBrowser(named, parent), browser) << parent;
    }
}

TEST(CaptureMessage, OnlyAWellFormedReportOfAKnownBrowserIsAccepted) {
    const auto verdict = reportFromMessage(goodMessage());
    ASSERT_TRUE(verdict.report) << verdict.rejection;
    EXPECT_EQ(verdict.report->address, "https://example.org/a");
    EXPECT_EQ(verdict.report->focused, 1700000000000.0);
    // Extra fields are ignored; an empty address is a report too (the focus left the browser).
    const auto extra = reportFromMessage(
        R"({"browser":"firefox","address":"","title":"","focused":1.5,"tabId":7,"more":{"a":[1,2]}})");
    ASSERT_TRUE(extra.report) << extra.rejection;
    EXPECT_EQ(extra.report->address, "");

    const std::string longText(longestText + 1, 'x');
    // Half a million levels would overflow a recursive parser or destructor.
    const std::string deep = std::string(500'000, '[') + std::string(500'000, ']');
    const struct {
        std::string name;
        std::string message;
    } rejected[] = {
        {"empty", ""},
        {"not JSON", "{browser: chromium}"},
        {"truncated JSON", R"({"browser":"chromium","address":"https://e)"},
        {"an array", R"([{"browser":"chromium","address":"a","title":"t","focused":1}])"},
        {"missing browser", R"({"address":"a","title":"t","focused":1})"},
        {"missing focused", R"({"browser":"chromium","address":"a","title":"t"})"},
        {"unknown browser", R"({"browser":"netscape","address":"a","title":"t","focused":1})"},
        {"browser of another case", R"({"browser":"Chromium","address":"a","title":"t","focused":1})"},
        {"address a number", R"({"browser":"chromium","address":5,"title":"t","focused":1})"},
        {"focused a string", R"({"browser":"chromium","address":"a","title":"t","focused":"1"})"},
        {"focused negative", R"({"browser":"chromium","address":"a","title":"t","focused":-1})"},
        {"address too long", R"({"browser":"chromium","address":")" + longText + R"(","title":"t","focused":1})"},
        {"title too long", R"({"browser":"chromium","address":"a","title":")" + longText + R"(","focused":1})"},
        {"invalid UTF-8", "{\"browser\":\"chromium\",\"address\":\"\xff\xfe\",\"title\":\"t\",\"focused\":1}"},
        {"trailing garbage", goodMessage() + "x"},
        {"over the size limit", goodMessage() + std::string(longestMessage, ' ')},
        {"nested half a million deep", deep},
    };
    for (const auto& c : rejected) {
        SCOPED_TRACE(c.name);
        const auto verdict = reportFromMessage(c.message);
        EXPECT_FALSE(verdict.report);
        EXPECT_FALSE(verdict.rejection.empty());
    }
    const auto deepField = reportFromMessage(R"({"browser":"chromium","address":"a","title":"t","focused":)" +
                                             std::string(400'000, '[') + std::string(400'000, ']') + "}");
    EXPECT_EQ(deepField.rejection, "missing \"focused\"");
}

TEST(CaptureStore, AStoredReportReadsBackTheSame) {
    const Report report{.browser = "brave", .address = "https://example.org/\"quoted\"\n", .title = "Tïtle ✓",
                        .focused = 1700000000123.0, .received = 1700000000456.0, .pid = 4242};
    const auto back = decodeStoredReport(encodeStoredReport(report));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::tie(back->browser, back->address, back->title, back->focused, back->received, back->pid),
              std::tie(report.browser, report.address, report.title, report.focused, report.received, report.pid));
    for (const char* text : {"", "[]", R"({"browser":"brave"})",
                             R"({"browser":"opera","address":"","title":"","focused":1,"received":1,"pid":1})",
                             R"({"browser":"brave","address":"","title":"","focused":1,"received":1,"pid":1.5})"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(decodeStoredReport(text).has_value(), false);
    }
}

TEST(CaptureDevTools, TheAnnouncementTheTargetListTheAnswerAndTheCommandLineAreReadStrictly) {
    // The port is the first line of the announcement.
    EXPECT_EQ(devToolsPort("40381\n/devtools/browser/6479e419-51cf-4552-a46e-408146121dfa"), 40381);
    EXPECT_EQ(devToolsPort("65535"), 65535);
    for (const char* text : {"", "\n9222", "0\n", "65536\n", "-1\n", "92a2\n", " 9222\n", "9222 \n"}) {
        EXPECT_EQ(devToolsPort(text), std::nullopt) << text;
    }

    // Only page targets with plain ids are asked.
    const auto pages = devToolsPages(R"([
      {"id":"ABDFF737D1E47F49BFC1B33D55A7339B","type":"page","url":"http://127.0.0.1:1/a","title":"A"},
      {"id":"7F1F41466B221D0D694ABD94DAAAE653","type":"browser_ui","url":"chrome://omnibox-popup.top-chrome/","title":"Omnibox Popup"},
      {"id":"1","type":"service_worker","url":"chrome-extension://x/background.js","title":"Service Worker"},
      {"id":"../../browser","type":"page","url":"http://127.0.0.1:1/b","title":"B"},
      {"id":"C2","type":"page","url":"http://127.0.0.1:1/c"},
      {"id":"D3","type":"page","url":"about:blank","title":"about:blank"},
      7
    ])");
    ASSERT_TRUE(pages);
    ASSERT_EQ(pages->size(), 2u);
    EXPECT_EQ((*pages)[0].id, "ABDFF737D1E47F49BFC1B33D55A7339B");
    EXPECT_EQ((*pages)[0].address, "http://127.0.0.1:1/a");
    EXPECT_EQ((*pages)[1].id, "D3");
    EXPECT_FALSE(devToolsPages("{}"));

    // The evaluation's answer to our call carries the boolean.
    EXPECT_EQ(evaluatedBoolean(R"({"id":1,"result":{"result":{"type":"boolean","value":true}}})", 1), true);
    EXPECT_EQ(evaluatedBoolean(R"({"id":1,"result":{"result":{"type":"boolean","value":false}}})", 1), false);
    for (const char* answer : {R"({"id":2,"result":{"result":{"type":"boolean","value":true}}})",
                               R"({"method":"Runtime.consoleAPICalled","params":{}})",
                               R"({"id":1,"error":{"code":-32601,"message":"x"}})",
                               R"({"id":1,"result":{"result":{"type":"string","value":"true"}}})", "not json"}) {
        EXPECT_EQ(evaluatedBoolean(answer, 1), std::nullopt) << answer;
    }

    // Profile folders from the command line.
    using Folders = std::vector<std::filesystem::path>;
    EXPECT_EQ(userDataFolders({"/usr/lib/chromium/chromium", "--user-data-dir=/tmp/p", "--no-sandbox"}),
              Folders{"/tmp/p"});
    EXPECT_EQ(userDataFolders({"chrome", "--user-data-dir", "/home/u/work profile"}), Folders{"/home/u/work profile"});
    for (const std::vector<std::string>& line : std::vector<std::vector<std::string>>{
             {"chrome", "--user-data-dir"}, {"chrome", "--user-data-dir="}, {"chrome", "--user-data-directory=/x"},
             {"chrome", "--", "--user-data-dir=/x"}}) {
        EXPECT_EQ(userDataFolders(line), Folders{}) << line.back();
    }
}

TEST(CaptureHelpers, EveryBrowserGetsAManifestInItsOwnFolder) {
    const auto manifests = hostManifests("/opt/Tolvar.app/libexec/tolvar-capture-host", "/home/u", "/home/u/.config");
    ASSERT_EQ(manifests.size(), 6u);  // the browsers Linux runs
    std::set<std::filesystem::path> files;
    for (const auto& manifest : manifests) {
        SCOPED_TRACE(manifest.browserKey);
        files.insert(manifest.file);
        const auto text = json::parse(manifest.text);
        EXPECT_EQ(text["path"], "/opt/Tolvar.app/libexec/tolvar-capture-host");
        // Only the extension of this application may start the host.
        if (manifest.browserKey == "firefox") {
            EXPECT_EQ(manifest.file, "/home/u/.mozilla/native-messaging-hosts/app.tolvar.desktop.capture.json");
            EXPECT_EQ(text.value("allowed_extensions", json()), json::array({"capture@tolvar.app"})) << text;
        } else {
            EXPECT_EQ(manifest.file.parent_path().filename(), "NativeMessagingHosts");
            EXPECT_EQ(text.value("allowed_origins", json()), json::array({"chrome-extension://" + std::string(chromiumExtensionId) + "/"}))
                << text;
        }
        EXPECT_EQ(text.size(), 5u) << "name, description, path, type and the one list of allowed callers";
    }
    EXPECT_EQ(files.size(), manifests.size()) << "each browser has a folder of its own";
}

TEST(CaptureExtension, TheManifestAsksForLittleAndStaysOutOfPrivateWindows) {
    const auto manifest = json::parse(testsupport::readFile(TOLVAR_EXTENSION_DIR "/manifest.json"));
    EXPECT_EQ(manifest["manifest_version"], 3);
    auto permissions = manifest["permissions"].get<std::vector<std::string>>();
    std::sort(permissions.begin(), permissions.end());
    EXPECT_EQ(permissions, (std::vector<std::string>{"nativeMessaging", "tabs"}));
    for (const char* wider : {"host_permissions", "optional_permissions", "content_scripts"}) {
        EXPECT_FALSE(manifest.contains(wider)) << wider;
    }
    EXPECT_EQ(manifest["incognito"], "not_allowed");
    EXPECT_EQ(manifest["browser_specific_settings"]["gecko"]["id"], firefoxExtensionId);
    const std::string script = testsupport::readFile(TOLVAR_EXTENSION_DIR "/background.js");
    EXPECT_NE(script.find(std::string("\"") + std::string(hostName) + "\""), std::string::npos);
}

namespace {

// A stream of these bytes to read frames from.
int streamOf(const std::string& bytes) {
    const int fd = memfd_create("frames", MFD_CLOEXEC);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string frame(const std::string& body, std::uint32_t announced) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &announced, 4);
    return bytes + body;
}

}  // namespace

TEST(CaptureFraming, FramesAreReadInStepOversizedOnesSkippedAndACutStreamIsTruncated) {
    const std::string big(longestMessage + 10, 'x');
    const int fd = streamOf(frame("first", 5) + frame(big, big.size()) + frame("", 0) + frame("after", 5));
    using enum Frame::Kind;
    for (const auto& [kind, body] : std::vector<std::pair<Frame::Kind, std::string>>{
             {message, "first"}, {oversized, ""}, {message, ""}, {message, "after"}, {end, ""}}) {
        const auto f = readFrame(fd, longestMessage);
        EXPECT_EQ(f.kind, kind);
        EXPECT_EQ(f.body, body);
        if (kind == oversized) { EXPECT_EQ(f.length, big.size()); }
    }
    close(fd);
    // The last: a length of 4 GiB with nothing behind it, skipped until the stream ends, in little memory.
    for (const std::string& bytes : {std::string("\x05\x00", 2), frame("abc", 10), frame("only this", 0xffffffffu)}) {
        const int cut = streamOf(bytes);
        EXPECT_EQ(readFrame(cut, longestMessage).kind, Frame::Kind::truncated);
        close(cut);
    }
}

TEST(CaptureReports, TheFrontBrowserIsTheOneWhoseLatestReportHasTheFocus) {
    const double now = 1'700'000'000'000;
    const auto sighting = [&](const char* browser, const char* address, double focusedAgo, bool runs) {
        return ReportSighting{Report{.browser = browser, .address = address, .title = "T", .focused = now - focusedAgo},
                              runs};
    };
    const struct {
        const char* name;
        std::vector<ReportSighting> reports;
        const char* front;  // nullptr: none
    } cases[] = {
        {"no reports", {}, nullptr},
        {"one focused browser", {sighting("chrome", "https://a.example/", 5'000, true)}, "chrome"},
        {"the focus left the browser (empty report)", {sighting("chrome", "", 1'000, true)}, nullptr},
        {"the browser has quit", {sighting("firefox", "https://a.example/", 1'000, false)}, nullptr},
        {"the latest focus wins",
         {sighting("chrome", "https://a.example/", 9'000, true), sighting("firefox", "https://b.example/", 2'000, true)},
         "firefox"},
        {"a left browser never wins over a focused one",
         {sighting("firefox", "", 100, true), sighting("chrome", "https://a.example/", 60'000, true)},
         "chrome"},
        {"a small clock difference is tolerated", {sighting("chrome", "https://a.example/", -30'000, true)}, "chrome"},
        {"reading one page for an hour is fine", {sighting("chrome", "https://a.example/", 3'600'000, true)}, "chrome"},
        {"a focus time far in the future is not believed",
         {sighting("edge", "https://a.example/", -3'600'000, true), sighting("brave", "https://b.example/", 1'000, true)},
         "brave"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto front = focusedBrowserReport(c.reports, now);
        if (c.front == nullptr) {
            EXPECT_FALSE(front);
        } else {
            ASSERT_TRUE(front);
            EXPECT_EQ(front->browser, c.front);
        }
    }
}
