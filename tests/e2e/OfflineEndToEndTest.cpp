// The main window's pages through the real web engine: the service address, links that leave the
// service, and failed loads.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "EndToEnd.h"

namespace e2e {
namespace {

// A loopback port that nothing listens on at the moment of the call.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class OfflineTest : public EndToEndTest {
protected:
    std::string pageText() { return script("return document.body ? document.body.innerText : ''"); }

    // Waits for the next failed load of `url` and answers its error text and the page then shown.
    std::pair<std::string, std::string> failure(const std::string& url) {
        const auto failed = expect("web-load-failed", [&](const json& event) { return event["url"] == url; });
        return {failed.value("error", ""), pageText()};
    }

    // Presses keys in the main window, as the user does.
    void pressKeys(const std::string& keys) {
        const std::string window = waitForMainWindow();
        ASSERT_FALSE(window.empty()) << "no main window";
        commandOutput("xdotool windowfocus --sync " + window + " key " + keys);
    }
};

// One run against the configured service address: its start page and the bookmark keys' pages,
// links that leave the service (which do is unit-tested; here they reach the desktop's default
// handler for real), and failed loads: an unknown host, an untrusted certificate that is tried
// again only when asked, and the service gone and back, which the page follows by itself.
TEST_F(OfflineTest, ServiceAddressPagesOutsideLinksAndFailedLoads) {
    // A stand-in browser for this user: it writes each address it is given.
    const auto opened = home.path() / "opened.txt";
    fs::create_directories(home.path() / "data" / "applications");
    std::ofstream(home.path() / "data" / "applications" / "recorder.desktop")
        << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=sh -c 'echo \"$1\" >> " << opened.string()
        << "' recorder %u\nMimeType=x-scheme-handler/https;\n";
    fs::create_directories(home.path() / "config");
    std::ofstream(home.path() / "config" / "mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/https=recorder.desktop\n";
    launch(true, {{"TOLVAR_SERVICE_URL", service->base() + "/"}, {"TOLVAR_START_URL", std::nullopt}});
    // Without a start address the first page is the configured service's /app.
    const std::string app = service->base() + "/app";
    EXPECT_EQ(journal.events().front()["url"], app);
    pressKeys("ctrl+n");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/app/bookmarks/new");
    setClipboard("https://example.org/read?x=1");
    pressKeys("ctrl+shift+b");
    EXPECT_EQ(expect("web-loaded")["url"],
              service->base() + "/app/bookmarks/new?url=https%3A%2F%2Fexample.org%2Fread%3Fx%3D1");

    const std::string links = service->base() + "/fixtures/links.html";
    send("go " + links + "\n");
    expect("web-loaded");
    auto openedAddresses = [&](long count) {
        std::string text;
        waitUntil([&] { return text = testsupport::readFile(opened), std::count(text.begin(), text.end(), '\n') >= count; });
        return text;
    };
    send("click #outside\n");
    expect("clicked");
    EXPECT_EQ(openedAddresses(1), "https://example.org/outside\n");
    send("click #outside-window\n");
    expect("clicked");
    EXPECT_EQ(openedAddresses(2), "https://example.org/outside\nhttps://example.org/popup\n");
    EXPECT_EQ(script("return location.href"), links);  // the window stayed on its page
    // Our own page asked for in a new window opens in the main window instead.
    send("click #inside-window\n");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/fixtures/titled.html");

    const std::string unknown = "http://no-such-host.invalid/app";
    send("go " + unknown + "\n");
    auto [error, page] = failure(unknown);
    EXPECT_NE(error.find("no-such-host.invalid"), std::string::npos) << error;
    EXPECT_NE(page.find("could not be found"), std::string::npos) << page;

    const auto key = home.path() / "key.pem";
    const auto certificate = home.path() / "certificate.pem";
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                           "-subj /CN=127.0.0.1 -keyout " + key.string() + " -out " + certificate.string() +
                           " >/dev/null 2>&1")
                              .c_str()),
              0);
    const int tlsPort = freePort();
    AppProcess tlsServer("/usr/bin/openssl", {},
                         {"s_server", "-quiet", "-www", "-accept", std::to_string(tlsPort), "-cert", certificate.string(),
                          "-key", key.string()});
    int probe = -1;
    ASSERT_TRUE(waitUntil([&] { return (probe = testsupport::connectLoopback(tlsPort)) >= 0; })) << "no TLS server";
    close(probe);
    const std::string secure = "https://127.0.0.1:" + std::to_string(tlsPort) + "/app";
    const int64_t beforeSecure = lastSeq;
    send("go " + secure + "\n");
    std::tie(error, page) = failure(secure);
    EXPECT_NE(error.find("not signed by a known authority"), std::string::npos) << error;
    EXPECT_NE(page.find("Tolvar can't connect securely to 127.0.0.1"), std::string::npos) << page;
    // Well past the first automatic retry's pause (2 seconds) nothing has been tried again...
    std::this_thread::sleep_for(4s);
    const auto events = journal.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [&](const json& event) {
                  return event["event"] == "web-load-failed" && event["url"] == secure;
              }), 1);
    // ...until the user asks: Try Again loads the address again, and it fails again.
    send("click #reload\n");
    expect("clicked");
    EXPECT_EQ(expect("web-load-failed")["url"], secure);
    for (const auto& event : journal.events()) {
        if (event["seq"].get<int64_t>() > beforeSecure) { EXPECT_NE(event["event"], "web-loaded") << event.dump(); }
    }

    const int64_t before = lastSeq;
    const int port = service->port();
    ASSERT_EQ(service->stop(SIGTERM), 0);
    send("go " + app + "\n");
    std::tie(error, page) = failure(app);
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
    EXPECT_NE(page.find("refused"), std::string::npos) << page;
    EXPECT_EQ(script("return location.href"), app);
    // The service comes back on the same port: the page follows without being asked.
    service = std::make_unique<testsupport::ServiceProcess>(std::vector<std::string>{
        "--port", std::to_string(port), "--data", (home.path() / "service").string(), "--demo-session", session,
        "--pages", TOLVAR_E2E_PAGES});
    const auto loaded = expect("web-loaded");
    EXPECT_EQ(loaded["url"], app);
    EXPECT_NE(pageText().find("Bookmarks"), std::string::npos);
    // Only the real page counted as loaded; the failure pages never did.
    for (const auto& event : journal.events()) {
        if (event["event"] == "web-loaded" && event["seq"].get<int64_t>() > before) {
            EXPECT_EQ(event["seq"], loaded["seq"]) << event.dump();
        }
    }
}

}  // namespace
}  // namespace e2e
