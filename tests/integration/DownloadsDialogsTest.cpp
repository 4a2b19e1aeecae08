// The built application answering a page's downloads, file inputs and script dialogs, with and
// without automation, on a private display.
#include <set>
#include <sstream>

#include "LaunchTest.h"

namespace launchtest {
namespace {

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

// The visible windows of the application other than its main window, as id and title.
std::map<std::string, std::string> otherVisibleWindows(pid_t pid) {
    std::map<std::string, std::string> windows;
    std::istringstream ids(commandOutput("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null"));
    for (std::string id; std::getline(ids, id);) {
        auto name = commandOutput("xdotool getwindowname " + id + " 2>/dev/null");
        if (name.ends_with('\n')) name.pop_back();
        if (!id.empty() && name != "Tolvar") windows[id] = name;
    }
    return windows;
}

// Waits for a window of the application, other than the main window, with that title; its id, or "".
std::string waitForWindow(pid_t pid, const std::string& title, std::chrono::milliseconds timeout = eventTimeout) {
    std::string found;
    waitUntil([&] {
        for (const auto& [id, name] : otherVisibleWindows(pid)) {
            if (name == title) found = id;
        }
        return !found.empty();
    }, timeout);
    return found;
}

bool waitUntilGone(pid_t pid, const std::string& id) {
    return waitUntil([&] { return !otherVisibleWindows(pid).contains(id); });
}

void pressKeys(const std::string& window, const std::string& keys) {
    commandOutput("xdotool windowfocus --sync " + window + " key --delay 50 " + keys);
}

// A page whose whole viewport is the label of a file input (clicking anywhere on the page opens
// it, with the user gesture WebKit asks for) and that reports the files it receives.
HttpResponse uploadPage() {
    return html(
        "<input type='file' id='f' multiple style='position:fixed;left:-1000px'>"
        "<label for='f' style='position:fixed;inset:0;background:#8cf;display:block'>Choose</label>"
        "<script>document.getElementById('f').addEventListener('change', e => {"
        " const files = e.target.files;"
        " fetch('/uploaded/' + files.length + '/' + (files[0] ? files[0].size + '/' + files[0].name : '')); });"
        "</script>");
}

void clickPage(const std::string& window) {
    // Well below the menu bar, inside the page.
    commandOutput("xdotool mousemove --window " + window + " 500 400 click 1");
}

class DownloadsDialogsTest : public LaunchTest {
protected:
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

// One run in automation: attachments of every type land byte for byte in the automation folder
// while an inline PDF shows, failed downloads say so and are not retried, and a file input receives
// the upload file without a chooser.
TEST_F(DownloadsDialogsTest, AutomationDownloadsAndFileInputs) {
    const std::string pdf = "%PDF-1.4\n" + binaryBytes(300 * 1024) + "\n%%EOF\n";
    const std::string json = R"({"bookmarks":[{"url":"https://example.org/","tags":["a","b"]}]})";
    const std::string escaping = binaryBytes(4096);
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
        if (request.target == "/escape") return attachment("../../escape/../outside.pdf", escaping);
        if (request.target == "/inline.pdf") return {.contentType = "application/pdf", .body = pdf};
        if (request.target == "/broken") {
            auto response = attachment("broken.bin", binaryBytes(64 * 1024));
            response.announcedLength = 1024 * 1024;  // the connection closes long before that
            return response;
        }
        if (request.target == "/blocked") return attachment("blocked.bin", binaryBytes(8192));
        if (request.target.starts_with("/upload")) return request.target == "/upload" ? uploadPage() : html("ok");
        return downloadingPage("/export.pdf");
    });
    const fs::path upload = home.path() / "fixtures" / "photo.png";
    fs::create_directories(upload.parent_path());
    std::ofstream(upload, std::ios::binary) << binaryBytes(12345);
    env["TOLVAR_E2E_UPLOAD"] = upload.string();
    std::ofstream(automation / "download-bookmarks.pdf") << "an earlier download";
    automate(server.url("/app"));
    AppProcess app(TOLVAR_EXECUTABLE, env);

    // A page load that turns into a download; the earlier file of that name is replaced.
    const auto finished = expect("download-finished");
    EXPECT_EQ(finished.size(), 2u) << "only event and seq: " << finished.dump();
    EXPECT_EQ(testsupport::readFile(automation / "download-bookmarks.pdf"), pdf);
    send("go /export.json\n");
    expect("download-finished");
    EXPECT_EQ(testsupport::readFile(automation / "download-bookmarks.json"), json);
    // A suggested name with folder parts gives a plain file directly in the automation folder.
    send("go /escape\n");
    expect("download-finished");
    auto names = downloadsInAutomation();
    ASSERT_EQ(names.size(), 3u);
    names.erase("download-bookmarks.pdf");
    names.erase("download-bookmarks.json");
    EXPECT_EQ(testsupport::readFile(automation / *names.begin()), escaping);
    EXPECT_FALSE(fs::exists(home.path().parent_path() / "outside.pdf"));
    send("go /inline.pdf\n");
    EXPECT_EQ(expect("web-loaded")["url"], server.url("/inline.pdf"));
    EXPECT_EQ(downloadsInAutomation().size(), 3u);

    // A download cut off: the incomplete file is not left looking like a finished download.
    send("go /broken\n");
    EXPECT_FALSE(expect("download-failed").value("error", "").empty());
    EXPECT_FALSE(fs::exists(automation / "download-broken.bin"));
    // A folder with content where the download goes: it is not removed, and the file cannot be written.
    fs::create_directories(automation / "download-blocked.bin");
    std::ofstream(automation / "download-blocked.bin" / "keep.txt") << "kept";
    send("go /blocked\n");
    EXPECT_FALSE(expect("download-failed").value("error", "").empty());
    EXPECT_EQ(testsupport::readFile(automation / "download-blocked.bin" / "keep.txt"), "kept");

    send("go /upload\n");
    expect("web-loaded");
    const std::string window = waitForMainWindow();
    ASSERT_FALSE(window.empty());
    // The first click may come before the page has painted its label; click until it took.
    bool received = false;
    for (int attempt = 0; attempt < 5 && !received; ++attempt) {
        clickPage(window);
        received = server.waitForRequest([](const HttpRequest& r) { return r.target.starts_with("/uploaded"); }, 3s);
    }
    ASSERT_TRUE(received) << "the page never received a file";
    // One file, although the input takes several.
    for (const auto& request : server.requests()) {
        if (request.target.starts_with("/uploaded")) { EXPECT_EQ(request.target, "/uploaded/1/12345/photo.png"); }
    }
    EXPECT_EQ(expect("open-panel")["file"], "photo.png");
    EXPECT_TRUE(otherVisibleWindows(app.pid()).empty()) << "no chooser is shown in automation mode";

    // By now a retry of the failed downloads would have come: none did.
    int attempts = 0;
    for (const auto& request : server.requests()) attempts += request.target == "/broken";
    EXPECT_EQ(attempts, 1);
    EXPECT_FALSE(anyEvent("web-load-failed"));
    int downloads = 0;
    for (const auto& event : journal.events()) {
        downloads += event["event"] == "download-finished";
        // No attachment was ever shown in the window.
        if (event["event"] != "web-loaded") continue;
        EXPECT_TRUE(event["url"] == server.url("/app") || event["url"] == server.url("/inline.pdf") ||
                    event["url"] == server.url("/upload")) << event.dump();
    }
    EXPECT_EQ(downloads, 3);
}

TEST_F(DownloadsDialogsTest, WithoutAutomationPanelsAreShownAndNothingReachesTheAutomationFolder) {
    LoopbackHttpServer server([&](const HttpRequest& request) {
        if (request.target == "/report") return attachment("report.pdf", binaryBytes(2048));
        if (request.target.starts_with("/answer")) return HttpResponse{.body = "ok"};
        return html("<script>window.addEventListener('load', () => setTimeout(async () => {"
                    " await fetch('/answer?confirm=' + confirm('Shown without automation?'));"
                    " const link = document.createElement('a'); link.href = '/report';"
                    " document.body.appendChild(link); link.click(); }, 100));</script>");
    });
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
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(fs::exists(automation / "events.jsonl"));
    EXPECT_TRUE(fs::is_empty(automation)) << "nothing appears in the automation folder";
    for (const auto& file : filesOutsideAutomation()) {
        EXPECT_EQ(file.filename().string().find("report"), std::string::npos) << "cancelled download written: " << file;
    }
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace launchtest
