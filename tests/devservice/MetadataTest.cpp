#include "ServiceFixture.h"

#include "tests/support/LoopbackHttpServer.h"

#include <unistd.h>

#include <future>

namespace {

using namespace std::chrono_literals;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;

class DevserviceMetadata : public DevserviceProcess {
protected:
    // The title the service answers for an address; fails the test unless the call succeeds.
    std::string titleFor(const std::string& url) {
        const auto reply = api("bookmarks.fetchMetadata", createBody({{"url", url}}));
        EXPECT_EQ(reply.status, 200) << url << ": " << reply.body;
        const auto json = reply.json();
        if (!json.is_array() || json.empty()) return "<no reply>";
        const auto& title = json[0]["result"]["data"]["json"]["title"];
        return title.is_string() ? title.get<std::string>() : "<no title>";
    }

    static HttpResponse html(const std::string& body, const std::string& type = "text/html; charset=utf-8") {
        return {.contentType = type, .body = body};
    }
    static HttpResponse redirect(const std::string& location) { return {.status = 302, .headers = {{"Location", location}}}; }

    static HttpResponse pages(const HttpRequest& request) {
        const std::string& path = request.target;
        if (path == "/page") return html("<html><head><title>Reached the page</title></head></html>");
        if (path == "/r1") return redirect("/page");
        if (path == "/r2") return redirect("/r1");
        if (path == "/r3") return redirect("r2");
        if (path == "/r4") return redirect("/r3");
        if (path == "/to-file") return redirect("file:///etc/hostname");
        if (path == "/to-ftp") return redirect("ftp://127.0.0.1/x");
        if (path == "/latin1") return html("<title>Gr\xFC\xDF" "e</title>", "text/html; charset=iso-8859-1");
        if (path == "/json") return html("{\"title\":\"<title>no</title>\"}", "application/json");
        if (path == "/missing") return {.status = 404, .body = "<title>Not the title</title>"};
        if (path == "/stall") return {.then = HttpResponse::Then::stall, .silent = true};
        if (path == "/stall-body") {
            return {.body = "<html><head><tit", .announcedLength = 1 << 20, .then = HttpResponse::Then::stall};
        }
        // The title comes after the size cap.
        if (path == "/huge") return html("<html><head>" + std::string(3 * 1024 * 1024, ' ') + "<title>Too far</title>");
        if (path == "/endless") {
            return {.body = "<html><head><title>Early title</title>", .then = HttpResponse::Then::repeat,
                    .repeated = std::string(64 * 1024, ' ')};
        }
        return html("<title>Unknown path</title>");
    }
};

TEST_F(DevserviceMetadata, AnswersTheTitleOfAPageTheServiceItselfServes) {
    start({"--pages", testsupport::builtInFixtures().string()});
    EXPECT_EQ(titleFor(service_->base() + "/fixtures/title.html"), "Fixture & Title — Tolvar test");
    EXPECT_EQ(titleFor(service_->base() + "/fixtures/missing.html"), "");
}

TEST_F(DevserviceMetadata, FollowsAtMostThreeRedirectsOverHttpOnly) {
    LoopbackHttpServer server(pages);
    start();
    EXPECT_EQ(titleFor(server.url("/page")), "Reached the page");
    EXPECT_EQ(titleFor(server.url("/r3")), "Reached the page");
    EXPECT_EQ(titleFor(server.url("/r4")), "");
    EXPECT_EQ(titleFor(server.url("/to-file")), "");
    EXPECT_EQ(titleFor(server.url("/to-ftp")), "");
    EXPECT_EQ(titleFor(server.url("/missing")), "");
    EXPECT_EQ(titleFor(server.url("/json")), "");
    EXPECT_EQ(titleFor(server.url("/latin1")), "Grüße");
    const auto seen = server.requests();
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const HttpRequest& r) { return r.target == "/page"; }), 2)
        << "the fourth redirect is not followed";
}

TEST_F(DevserviceMetadata, CapsTheBodyAndStopsReadingOnceTheTitleArrived) {
    LoopbackHttpServer server(pages);
    start();
    EXPECT_EQ(titleFor(server.url("/huge")), "");
    EXPECT_EQ(titleFor(server.url("/endless")), "Early title");
}

TEST_F(DevserviceMetadata, SlowOrDeadPagesTimeOutWithoutBlockingOtherRequests) {
    LoopbackHttpServer server(pages);
    start({"--fetch-timeout", "1"});
    auto stalled = std::async(std::launch::async, [&] { return titleFor(server.url("/stall")); });
    auto stalledBody = std::async(std::launch::async, [&] { return titleFor(server.url("/stall-body")); });

    // While both lookups wait, the service answers everybody else.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(get("/app/signin").status, 200);
    EXPECT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org"}})).status, 200);
    EXPECT_EQ(stalled.get(), "");
    EXPECT_EQ(stalledBody.get(), "");

    // Nothing listens on a port that was just released.
    const int closedPort = [] {
        LoopbackHttpServer gone([](const HttpRequest&) { return HttpResponse{}; });
        return gone.port();
    }();
    EXPECT_EQ(titleFor("http://127.0.0.1:" + std::to_string(closedPort) + "/"), "");
}

TEST_F(DevserviceMetadata, ClientsThatLeaveDuringALookupAndStoppingMidLookupAreHandled) {
    LoopbackHttpServer server(pages);
    start({"--fetch-timeout", "1"});
    const auto body = createBody({{"url", server.url("/stall")}});
    const std::string request = "POST /api/trpc/bookmarks.fetchMetadata?batch=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Content-Type: application/json\r\nCookie: tolvar_session=" +
                                std::string(demoToken) + "\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n\r\n" + body;

    // The caller hangs up before the lookup ends; the late answer goes nowhere.
    const int leaving = testsupport::connectLoopback(port());
    ASSERT_TRUE(testsupport::sendAll(leaving, request));
    std::this_thread::sleep_for(200ms);
    close(leaving);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(get("/app/signin").status, 200);

    // The service is stopped while a lookup waits; it still ends at once and cleanly.
    const int waiting = testsupport::connectLoopback(port());
    ASSERT_TRUE(testsupport::sendAll(waiting, request));
    std::this_thread::sleep_for(200ms);
    stopService();
    close(waiting);
}

}  // namespace
