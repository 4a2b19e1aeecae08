// The built application answering a page's downloads, file inputs and script dialogs, with and
// without automation, on a private display.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/AppProcess.h"
#include "tests/support/LoopbackHttpServer.h"

namespace {

using testsupport::commandOutput;

using namespace std::chrono_literals;
using testsupport::AppProcess;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::Journal;
using testsupport::LoopbackHttpServer;
using testsupport::TemporaryFolder;
namespace fs = std::filesystem;

constexpr auto eventTimeout = 30s;

// Bytes of every value, so a download that is not copied byte for byte shows.
std::string binaryBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

HttpResponse html(const std::string& body) { return {.body = "<!doctype html><html><body>" + body + "</body></html>"}; }

HttpResponse attachment(const std::string& dispositionName, std::string bytes) {
    return {.contentType = "application/octet-stream",
            .headers = {{"Content-Disposition", "attachment; filename=\"" + dispositionName + "\""}},
            .body = std::move(bytes)};
}

// A page that starts a download of `target` once it has loaded (a script-driven navigation).
HttpResponse downloadingPage(const std::string& target) {
    return html("<p>Downloading</p><script>window.addEventListener('load', () => setTimeout(() => {"
                " location.href = '" + target + "'; }, 100));</script>");
}

// The value of one query parameter of a recorded request target, percent-decoded.
std::string queryValue(const std::string& target, const std::string& name) {
    const auto query = target.find('?');
    if (query == std::string::npos) return "";
    std::istringstream pairs(target.substr(query + 1));
    for (std::string pair; std::getline(pairs, pair, '&');) {
        if (!pair.starts_with(name + "=")) continue;
        std::string raw = pair.substr(name.size() + 1), decoded;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '%' && i + 2 < raw.size()) {
                decoded += char(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                decoded += raw[i] == '+' ? ' ' : raw[i];
            }
        }
        return decoded;
    }
    return "";
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) result.push_back(line);
    }
    return result;
}

// The visible windows of the application other than its main window, as id and title.
std::map<std::string, std::string> otherVisibleWindows(pid_t pid) {
    std::map<std::string, std::string> windows;
    for (const auto& id : lines(commandOutput("xdotool search --onlyvisible --pid " + std::to_string(pid) +
                                              " 2>/dev/null"))) {
        auto name = commandOutput("xdotool getwindowname " + id + " 2>/dev/null");
        while (!name.empty() && name.back() == '\n') name.pop_back();
        if (name != "Tolvar") windows[id] = name;
    }
    return windows;
}

// Waits for a visible window of the application, other than the main window, whose title is
// `title`; answers its id, or "" when none came.
std::string waitForWindow(pid_t pid, const std::string& title) {
    const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& [id, name] : otherVisibleWindows(pid)) {
            if (name == title) return id;
        }
        std::this_thread::sleep_for(100ms);
    }
    return "";
}

bool waitUntilGone(pid_t pid, const std::string& id) {
    const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!otherVisibleWindows(pid).contains(id)) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

void pressKeys(const std::string& window, const std::string& keys) {
    commandOutput("xdotool windowfocus --sync " + window + " key --delay 50 " + keys);
}

std::string mainWindow() {
    const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        auto ids = lines(commandOutput("xdotool search --onlyvisible --name '^Tolvar$' 2>/dev/null"));
        if (!ids.empty()) return ids.front();
        std::this_thread::sleep_for(100ms);
    }
    return "";
}

// A page whose whole viewport is the label of a file input (clicking anywhere on the page opens
// it, with the user gesture WebKit asks for) and that reports the files it receives.
HttpResponse uploadPage() {
    return html(
        "<input type='file' id='f' multiple style='position:fixed;left:-1000px'>"
        "<label for='f' style='position:fixed;inset:0;background:#8cf;display:block'>Choose</label>"
        "<script>document.getElementById('f').addEventListener('change', e => {"
        " const files = e.target.files;"
        " fetch('/uploaded?count=' + files.length + '&name=' + encodeURIComponent(files[0] ? files[0].name : '') +"
        " '&size=' + (files[0] ? files[0].size : -1)); });</script>");
}

void clickPage(const std::string& window) {
    // Well below the menu bar, inside the page.
    commandOutput("xdotool mousemove --window " + window + " 500 400 click 1");
}

class DownloadsDialogsTest : public ::testing::Test {
protected:
    TemporaryFolder home;
    std::map<std::string, std::optional<std::string>> env = testsupport::userEnvironment(home.path());
    fs::path automation = home.path() / "automation";

    void SetUp() override {
        fs::create_directories(automation);
        for (const char* name : {"TOLVAR_E2E_DIR", "TOLVAR_E2E_SESSION", "TOLVAR_START_URL", "TOLVAR_UPDATE_FEED",
                                 "TOLVAR_E2E_PRETEND_VERSION", "TOLVAR_E2E_UPLOAD", "GTK_USE_PORTAL"}) {
            env[name] = std::nullopt;
        }
    }

    // Every regular file under the test's home, outside the automation folder.
    std::set<fs::path> filesOutsideAutomation() const {
        std::set<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
            if (entry.is_regular_file() && !entry.path().string().starts_with(automation.string() + "/")) {
                files.insert(entry.path());
            }
        }
        return files;
    }

    std::set<std::string> downloadsInAutomation() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(automation)) {
            if (entry.path().filename().string().starts_with("download-")) names.insert(entry.path().filename());
        }
        return names;
    }
};

TEST_F(DownloadsDialogsTest, AutomationDownloadWritesTheFileByteForByteReplacingAnEarlierOne) {
    const std::string bytes = binaryBytes(300 * 1024);
    LoopbackHttpServer server([&](const HttpRequest& request) {
        if (request.target == "/report") return attachment("report.pdf", bytes);
        return downloadingPage("/report");
    });
    std::ofstream(automation / "download-report.pdf") << "an earlier download";
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);
    Journal journal(automation);

    auto finished = journal.waitFor("download-finished", eventTimeout);
    ASSERT_TRUE(finished) << "no download-finished event";
    EXPECT_EQ(finished->size(), 2u) << "only event and seq: " << finished->dump();
    EXPECT_EQ(testsupport::readFile(automation / "download-report.pdf"), bytes);
    EXPECT_EQ(downloadsInAutomation(), std::set<std::string>{"download-report.pdf"});
    // A page load that turns into a download is no failed load.
    for (const auto& event : journal.events()) {
        EXPECT_NE(event["event"], "download-failed") << event.dump();
        EXPECT_NE(event["event"], "web-load-failed") << event.dump();
    }
}

TEST_F(DownloadsDialogsTest, AttachmentsDownloadWhateverTheirTypeWhileAnInlinePdfShows) {
    const std::string pdf = "%PDF-1.4\n" + binaryBytes(20 * 1024) + "\n%%EOF\n";
    const std::string json = R"({"bookmarks":[{"url":"https://example.org/","tags":["a","b"]}]})";
    LoopbackHttpServer server([&](const HttpRequest& request) -> HttpResponse {
        if (request.target == "/export.pdf") {
            return {.contentType = "application/pdf",
                    .headers = {{"Content-Disposition", "attachment; filename=\"bookmarks.pdf\""}},
                    .body = pdf};
        }
        if (request.target == "/export.json") {
            return {.contentType = "application/json",
                    .headers = {{"Content-Disposition", "Attachment; filename=bookmarks.json"}},
                    .body = json};
        }
        if (request.target == "/inline.pdf") return {.contentType = "application/pdf", .body = pdf};
        return html("<p>Start</p>");
    });
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);
    Journal journal(automation);
    auto loaded = journal.waitFor("web-loaded", eventTimeout);
    ASSERT_TRUE(loaded);
    auto command = [&](const std::string& line) { std::ofstream(automation / "cmd", std::ios::app) << line << "\n"; };

    command("go /export.pdf");
    auto finished = journal.waitFor("download-finished", eventTimeout, {}, (*loaded)["seq"]);
    ASSERT_TRUE(finished) << "the attachment PDF did not download";
    EXPECT_EQ(testsupport::readFile(automation / "download-bookmarks.pdf"), pdf);
    command("go /export.json");
    finished = journal.waitFor("download-finished", eventTimeout, {}, (*finished)["seq"]);
    ASSERT_TRUE(finished) << "the attachment JSON did not download";
    EXPECT_EQ(testsupport::readFile(automation / "download-bookmarks.json"), json);

    command("go /inline.pdf");
    loaded = journal.waitFor("web-loaded", eventTimeout, {}, (*finished)["seq"]);
    ASSERT_TRUE(loaded) << "the inline PDF did not show";
    EXPECT_EQ((*loaded)["url"], server.url("/inline.pdf"));
    EXPECT_EQ(downloadsInAutomation(), (std::set<std::string>{"download-bookmarks.pdf", "download-bookmarks.json"}));
    for (const auto& event : journal.events()) {
        EXPECT_NE(event["event"], "download-failed") << event.dump();
        // Neither attachment was ever shown in the window.
        if (event["event"] == "web-loaded") {
            EXPECT_EQ(event["url"].get<std::string>().find("/export."), std::string::npos) << event.dump();
        }
    }
}

TEST_F(DownloadsDialogsTest, SuggestedNameWithFolderPartsStaysInsideTheAutomationFolder) {
    const std::string bytes = binaryBytes(4096);
    LoopbackHttpServer server([&](const HttpRequest& request) {
        if (request.target == "/escape") return attachment("../../escape/../outside.pdf", bytes);
        return downloadingPage("/escape");
    });
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);
    Journal journal(automation);

    ASSERT_TRUE(journal.waitFor("download-finished", eventTimeout)) << "no download-finished event";
    // Exactly one download, a plain file directly in the automation folder, with the bytes served.
    const auto names = downloadsInAutomation();
    ASSERT_EQ(names.size(), 1u);
    const fs::path written = automation / *names.begin();
    EXPECT_TRUE(fs::is_regular_file(written));
    EXPECT_EQ(testsupport::readFile(written), bytes);
    for (const auto& entry : fs::recursive_directory_iterator(automation)) {
        EXPECT_FALSE(entry.is_directory()) << "no folder is made: " << entry.path();
    }
    for (const auto& file : filesOutsideAutomation()) {
        EXPECT_EQ(file.filename().string().find("outside"), std::string::npos) << file;
    }
    EXPECT_FALSE(fs::exists(home.path().parent_path() / "outside.pdf"));
    EXPECT_FALSE(fs::exists(home.path() / "outside.pdf"));
}

TEST_F(DownloadsDialogsTest, DownloadCutOffByTheServerReportsItsError) {
    LoopbackHttpServer server([&](const HttpRequest& request) {
        if (request.target == "/broken") {
            auto response = attachment("broken.bin", binaryBytes(64 * 1024));
            response.announcedLength = 1024 * 1024;  // the connection closes long before that
            return response;
        }
        return downloadingPage("/broken");
    });
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);
    Journal journal(automation);

    auto failed = journal.waitFor("download-failed", eventTimeout);
    ASSERT_TRUE(failed) << "no download-failed event; journal: " << [&] {
        std::string all;
        for (const auto& event : journal.events()) all += event.dump() + "\n";
        return all;
    }();
    ASSERT_TRUE((*failed)["error"].is_string());
    EXPECT_FALSE((*failed)["error"].get<std::string>().empty());
    // No retry and no success follow.
    std::this_thread::sleep_for(1s);
    for (const auto& event : journal.events()) EXPECT_NE(event["event"], "download-finished") << event.dump();
    int attempts = 0;
    for (const auto& request : server.requests()) attempts += request.target == "/broken";
    EXPECT_EQ(attempts, 1);
    // The incomplete file is not left looking like a finished download.
    EXPECT_FALSE(fs::exists(automation / "download-broken.bin"));
}

TEST_F(DownloadsDialogsTest, DownloadThatCannotBeWrittenReportsTheEnginesError) {
    LoopbackHttpServer server([&](const HttpRequest& request) {
        if (request.target == "/blocked") return attachment("blocked.bin", binaryBytes(8192));
        return downloadingPage("/blocked");
    });
    // A folder with content sits where the download goes: it is not removed, and the file cannot
    // be written there.
    fs::create_directories(automation / "download-blocked.bin");
    std::ofstream(automation / "download-blocked.bin" / "keep.txt") << "kept";
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);
    Journal journal(automation);

    auto failed = journal.waitFor("download-failed", eventTimeout);
    ASSERT_TRUE(failed) << "no download-failed event";
    EXPECT_FALSE((*failed)["error"].get<std::string>().empty());
    EXPECT_EQ(testsupport::readFile(automation / "download-blocked.bin" / "keep.txt"), "kept");
    for (const auto& event : journal.events()) EXPECT_NE(event["event"], "download-finished") << event.dump();
}

TEST_F(DownloadsDialogsTest, AutomationFileInputReceivesTheUploadFile) {
    const fs::path upload = home.path() / "fixtures" / "photo.png";
    fs::create_directories(upload.parent_path());
    std::ofstream(upload, std::ios::binary) << binaryBytes(12345);
    LoopbackHttpServer server([](const HttpRequest&) { return uploadPage(); });
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    env["TOLVAR_E2E_UPLOAD"] = upload.string();
    AppProcess app(TOLVAR_EXECUTABLE, env);
    Journal journal(automation);
    ASSERT_TRUE(journal.waitFor("web-loaded", eventTimeout));
    const std::string window = mainWindow();
    ASSERT_FALSE(window.empty());

    auto uploaded = [&] {
        return server.waitForRequest([](const HttpRequest& r) { return r.target.starts_with("/uploaded"); }, 3s);
    };
    // The first click may come before the page has painted its label; click until it took.
    bool received = false;
    for (int attempt = 0; attempt < 5 && !received; ++attempt) {
        clickPage(window);
        received = uploaded();
    }
    ASSERT_TRUE(received) << "the page never received a file";
    for (const auto& request : server.requests()) {
        if (!request.target.starts_with("/uploaded")) continue;
        EXPECT_EQ(queryValue(request.target, "count"), "1") << "one file, although the input takes several";
        EXPECT_EQ(queryValue(request.target, "name"), "photo.png");
        EXPECT_EQ(queryValue(request.target, "size"), "12345");
    }
    auto panel = journal.waitFor("open-panel", 1s);
    ASSERT_TRUE(panel);
    EXPECT_EQ((*panel)["file"], "photo.png");
    EXPECT_TRUE(otherVisibleWindows(app.pid()).empty()) << "no chooser is shown in automation mode";
}

TEST_F(DownloadsDialogsTest, WithoutAutomationPanelsAreShownAndNothingReachesTheAutomationFolder) {
    const fs::path upload = home.path() / "fixtures" / "photo.png";
    fs::create_directories(upload.parent_path());
    std::ofstream(upload, std::ios::binary) << "not to be uploaded";
    LoopbackHttpServer server([&](const HttpRequest& request) {
        if (request.target == "/report") return attachment("report.pdf", binaryBytes(2048));
        if (request.target.starts_with("/answer") || request.target.starts_with("/uploaded")) {
            return HttpResponse{.body = "ok"};
        }
        auto page = uploadPage();
        page.body += "<script>window.addEventListener('load', () => setTimeout(async () => {"
                     " await fetch('/answer?confirm=' + confirm('Shown without automation?'));"
                     " const link = document.createElement('a'); link.href = '/report';"
                     " document.body.appendChild(link); link.click(); }, 100));</script>";
        return page;
    });
    // The automation variables other than the folder itself do nothing without it.
    env["TOLVAR_E2E_UPLOAD"] = upload.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);

    const std::string confirmation = waitForWindow(app.pid(), "");
    ASSERT_FALSE(confirmation.empty()) << "the confirmation is shown without automation as well";
    pressKeys(confirmation, "Return");
    ASSERT_TRUE(server.waitForRequest([](const HttpRequest& r) { return r.target == "/answer?confirm=true"; },
                                      eventTimeout));

    // The download asks where to save; cancelling it cancels the download.
    const std::string save = waitForWindow(app.pid(), "Save");
    ASSERT_FALSE(save.empty()) << "no save panel";
    pressKeys(save, "Escape");
    ASSERT_TRUE(waitUntilGone(app.pid(), save));

    // A file input opens a chooser although TOLVAR_E2E_UPLOAD is set; cancelling gives no files.
    const std::string window = mainWindow();
    ASSERT_FALSE(window.empty());
    std::string open;
    for (int attempt = 0; attempt < 5 && open.empty(); ++attempt) {
        clickPage(window);
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (open.empty() && std::chrono::steady_clock::now() < deadline) {
            for (const auto& [id, name] : otherVisibleWindows(app.pid())) {
                if (name == "Open") open = id;
            }
            std::this_thread::sleep_for(100ms);
        }
    }
    ASSERT_FALSE(open.empty()) << "no open panel";
    pressKeys(open, "Escape");
    ASSERT_TRUE(waitUntilGone(app.pid(), open));
    std::this_thread::sleep_for(1s);

    EXPECT_FALSE(fs::exists(automation / "events.jsonl"));
    EXPECT_TRUE(fs::is_empty(automation)) << "nothing appears in the automation folder";
    for (const auto& file : filesOutsideAutomation()) {
        EXPECT_EQ(file.filename().string().find("report"), std::string::npos) << "cancelled download written: " << file;
    }
    for (const auto& request : server.requests()) EXPECT_FALSE(request.target.starts_with("/uploaded")) << request.target;
    EXPECT_TRUE(app.running());
}

}  // namespace
