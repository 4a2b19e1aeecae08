#include "capture/CaptureRules.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include "capture/NativeMessaging.h"
#include "quicksave/QuickSaveLogic.h"
#include "tests/support/AppProcess.h"

using namespace capture;
using nlohmann::json;

namespace {

json extensionManifest() { return json::parse(testsupport::readFile(TOLVAR_EXTENSION_DIR "/manifest.json")); }

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
}

TEST(CaptureMessage, AWellFormedReportIsAccepted) {
    const auto verdict = reportFromMessage(goodMessage());
    ASSERT_TRUE(verdict.report) << verdict.rejection;
    EXPECT_EQ(verdict.report->address, "https://example.org/a");
    EXPECT_EQ(verdict.report->focused, 1700000000000.0);
    // Extra fields are ignored; an empty address is a report too (the focus left the browser).
    const auto extra = reportFromMessage(
        R"({"browser":"firefox","address":"","title":"","focused":1.5,"tabId":7,"more":{"a":[1,2]}})");
    ASSERT_TRUE(extra.report) << extra.rejection;
    EXPECT_EQ(extra.report->address, "");
}

TEST(CaptureMessage, MalformedReportsAreRejectedWithAReason) {
    const std::string longText(longestText + 1, 'x');
    const struct {
        std::string name;
        std::string message;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "{browser: chromium}"},
        {"truncated JSON", R"({"browser":"chromium","address":"https://e)"},
        {"an array", R"([{"browser":"chromium","address":"a","title":"t","focused":1}])"},
        {"a string", R"("chromium")"},
        {"missing browser", R"({"address":"a","title":"t","focused":1})"},
        {"missing address", R"({"browser":"chromium","title":"t","focused":1})"},
        {"missing title", R"({"browser":"chromium","address":"a","focused":1})"},
        {"missing focused", R"({"browser":"chromium","address":"a","title":"t"})"},
        {"unknown browser", R"({"browser":"netscape","address":"a","title":"t","focused":1})"},
        {"browser of another case", R"({"browser":"Chromium","address":"a","title":"t","focused":1})"},
        {"address a number", R"({"browser":"chromium","address":5,"title":"t","focused":1})"},
        {"title null", R"({"browser":"chromium","address":"a","title":null,"focused":1})"},
        {"focused a string", R"({"browser":"chromium","address":"a","title":"t","focused":"1"})"},
        {"focused negative", R"({"browser":"chromium","address":"a","title":"t","focused":-1})"},
        {"focused an object", R"({"browser":"chromium","address":"a","title":"t","focused":{"at":1}})"},
        {"address too long", R"({"browser":"chromium","address":")" + longText + R"(","title":"t","focused":1})"},
        {"title too long", R"({"browser":"chromium","address":"a","title":")" + longText + R"(","focused":1})"},
        {"invalid UTF-8", "{\"browser\":\"chromium\",\"address\":\"\xff\xfe\",\"title\":\"t\",\"focused\":1}"},
        {"trailing garbage", goodMessage() + "x"},
        {"over the size limit", goodMessage() + std::string(longestMessage, ' ')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto verdict = reportFromMessage(c.message);
        EXPECT_FALSE(verdict.report);
        EXPECT_FALSE(verdict.rejection.empty());
    }
}

TEST(CaptureMessage, DeepNestingCostsNoStack) {
    // Half a million levels would overflow a recursive parser or destructor.
    const std::string deep = std::string(500'000, '[') + std::string(500'000, ']');
    EXPECT_FALSE(reportFromMessage(deep).report);
    const std::string deepField = R"({"browser":"chromium","address":"a","title":"t","focused":)" +
                                  std::string(400'000, '[') + std::string(400'000, ']') + "}";
    const auto verdict = reportFromMessage(deepField);
    EXPECT_FALSE(verdict.report);
    EXPECT_EQ(verdict.rejection, "missing \"focused\"");
}

TEST(CaptureMessage, TheBrowserThatStartedTheHostWins) {
    EXPECT_EQ(reportingBrowser("chromium", "vivaldi-bin"), "vivaldi");
    EXPECT_EQ(reportingBrowser("chromium", "chrome"), "chrome");
    EXPECT_EQ(reportingBrowser("firefox", "firefox-esr"), "firefox");
    EXPECT_EQ(reportingBrowser("brave", "capture_tests"), "brave");
    EXPECT_EQ(reportingBrowser("edge", ""), "edge");
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

TEST(CaptureChoice, OnlyAReportWithATabOfARunningBrowserIsOffered) {
    const double now = 1700000100000.0;
    const Report report{.browser = "chromium", .address = "https://example.org/a", .title = "A",
                        .focused = now - 5000, .received = now - 4000, .pid = 1};
    const auto page = offeredPage(report, now, true);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->address, "https://example.org/a");
    EXPECT_FALSE(offeredPage(report, now, false));  // the browser is gone
    Report left = report;
    left.address = "";
    left.title = "";
    EXPECT_FALSE(offeredPage(left, now, true));  // the focus moved where no tab may be offered
    Report future = report;
    future.focused = now + 120'000;
    EXPECT_FALSE(offeredPage(future, now, true));
    future.focused = now + 30'000;  // a small clock difference is tolerated
    EXPECT_TRUE(offeredPage(future, now, true));
    Report old = report;
    old.focused = now - 3'600'000;  // reading one page for an hour is fine
    EXPECT_TRUE(offeredPage(old, now, true));
}

TEST(CaptureDevTools, ThePortIsTheFirstLineOfTheAnnouncement) {
    EXPECT_EQ(devToolsPort("40381\n/devtools/browser/6479e419-51cf-4552-a46e-408146121dfa"), 40381);
    EXPECT_EQ(devToolsPort("65535"), 65535);
    for (const char* text : {"", "\n9222", "0\n", "65536\n", "-1\n", "92a2\n", " 9222\n", "9222 \n"}) {
        EXPECT_EQ(devToolsPort(text), std::nullopt) << text;
    }
}

TEST(CaptureDevTools, OnlyPageTargetsWithPlainIdsAreAsked) {
    const std::string answer = R"([
      {"id":"ABDFF737D1E47F49BFC1B33D55A7339B","type":"page","url":"http://127.0.0.1:1/a","title":"A"},
      {"id":"7F1F41466B221D0D694ABD94DAAAE653","type":"browser_ui","url":"chrome://omnibox-popup.top-chrome/","title":"Omnibox Popup"},
      {"id":"1","type":"service_worker","url":"chrome-extension://x/background.js","title":"Service Worker"},
      {"id":"../../browser","type":"page","url":"http://127.0.0.1:1/b","title":"B"},
      {"id":"C2","type":"page","url":"http://127.0.0.1:1/c"},
      {"id":"D3","type":"page","url":"about:blank","title":"about:blank"},
      7
    ])";
    const auto pages = devToolsPages(answer);
    ASSERT_TRUE(pages);
    ASSERT_EQ(pages->size(), 2u);
    EXPECT_EQ((*pages)[0].id, "ABDFF737D1E47F49BFC1B33D55A7339B");
    EXPECT_EQ((*pages)[0].address, "http://127.0.0.1:1/a");
    EXPECT_EQ((*pages)[1].id, "D3");
    EXPECT_FALSE(devToolsPages("{}"));
}

TEST(CaptureDevTools, TheEvaluationAnswerCarriesTheBoolean) {
    EXPECT_EQ(evaluatedBoolean(R"({"id":1,"result":{"result":{"type":"boolean","value":true}}})", 1), true);
    EXPECT_EQ(evaluatedBoolean(R"({"id":1,"result":{"result":{"type":"boolean","value":false}}})", 1), false);
    for (const char* answer : {R"({"id":2,"result":{"result":{"type":"boolean","value":true}}})",
                               R"({"method":"Runtime.consoleAPICalled","params":{}})",
                               R"({"id":1,"error":{"code":-32601,"message":"x"}})",
                               R"({"id":1,"result":{"result":{"type":"string","value":"true"}}})", "not json"}) {
        EXPECT_EQ(evaluatedBoolean(answer, 1), std::nullopt) << answer;
    }
}

TEST(CaptureDevTools, ProfileFoldersFromTheCommandLine) {
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

TEST(CaptureExtension, TheManifestKeyGivesTheIdTheHostAllows) {
    const auto manifest = extensionManifest();
    // The id: the first 128 bits of the SHA-256 of the public key, in hexadecimal with the letters a to p.
    const std::string key = manifest["key"];
    std::string der(key.size(), '\0');
    const int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(der.data()),
                                        reinterpret_cast<const unsigned char*>(key.data()), static_cast<int>(key.size()));
    ASSERT_GT(decoded, 0);
    std::size_t padding = 0;  // EVP_DecodeBlock counts the bytes that "=" pads out
    for (auto c = key.rbegin(); c != key.rend() && *c == '='; ++c) ++padding;
    der.resize(static_cast<std::size_t>(decoded) - padding);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest);
    std::string id;
    for (int i = 0; i < 16; ++i) {
        id.push_back(static_cast<char>('a' + (digest[i] >> 4)));
        id.push_back(static_cast<char>('a' + (digest[i] & 0x0f)));
    }
    EXPECT_EQ(id, chromiumExtensionId);
    EXPECT_EQ(manifest["browser_specific_settings"]["gecko"]["id"], firefoxExtensionId);
}

TEST(CaptureExtension, TheManifestAsksForLittleAndStaysOutOfPrivateWindows) {
    const auto manifest = extensionManifest();
    EXPECT_EQ(manifest["manifest_version"], 3);
    auto permissions = manifest["permissions"].get<std::vector<std::string>>();
    std::sort(permissions.begin(), permissions.end());
    EXPECT_EQ(permissions, (std::vector<std::string>{"nativeMessaging", "tabs"}));
    for (const char* wider : {"host_permissions", "optional_permissions", "content_scripts"}) {
        EXPECT_FALSE(manifest.contains(wider)) << wider;
    }
    EXPECT_EQ(manifest["incognito"], "not_allowed");
    const std::string script = testsupport::readFile(TOLVAR_EXTENSION_DIR "/background.js");
    EXPECT_NE(script.find(std::string("\"") + std::string(hostName) + "\""), std::string::npos);
}

namespace {

// A pipe whose write end is fed from a thread, so large inputs cannot block the test.
struct FeedPipe {
    int fds[2];
    std::thread writer;
    explicit FeedPipe(std::string bytes) {
        EXPECT_EQ(pipe(fds), 0);
        writer = std::thread([fd = fds[1], bytes = std::move(bytes)] {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
                if (put <= 0) break;
                done += static_cast<std::size_t>(put);
            }
            close(fd);
        });
    }
    ~FeedPipe() {
        close(fds[0]);
        writer.join();
    }
    int fd() const { return fds[0]; }
};

std::string frame(const std::string& body, std::uint32_t announced) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &announced, 4);
    return bytes + body;
}
std::string frame(const std::string& body) { return frame(body, static_cast<std::uint32_t>(body.size())); }

}  // namespace

TEST(CaptureFraming, FramesAreReadInStepAndOversizedOnesSkipped) {
    const std::string big(longestMessage + 10, 'x');
    FeedPipe feed(frame("first") + frame(big) + frame("") + frame("after"));
    using enum Frame::Kind;
    for (const auto& [kind, body] : std::vector<std::pair<Frame::Kind, std::string>>{
             {message, "first"}, {oversized, ""}, {message, ""}, {message, "after"}, {end, ""}}) {
        const auto f = readFrame(feed.fd(), longestMessage);
        EXPECT_EQ(f.kind, kind);
        EXPECT_EQ(f.body, body);
        if (kind == oversized) EXPECT_EQ(f.length, big.size());
    }
}

TEST(CaptureFraming, AStreamThatEndsInsideAFrameIsTruncated) {
    // The last: a length of 4 GiB with nothing behind it, skipped until the stream ends, in little memory.
    for (const std::string& bytes : {std::string("\x05\x00", 2), frame("abc", 10), frame("only this", 0xffffffffu)}) {
        FeedPipe feed(bytes);
        EXPECT_EQ(readFrame(feed.fd(), longestMessage).kind, Frame::Kind::truncated);
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
