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

    // The query only tells the test's lookups apart.
    static HttpResponse pages(const HttpRequest& request) {
        const std::string path = request.target.substr(0, request.target.find('?'));
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

TEST_F(DevserviceMetadata, AnswersTheTitleAfterAtMostThreeRedirectsOverHttpWithinTheSizeCap) {
    LoopbackHttpServer server(pages);
    start({"--pages", testsupport::builtInFixtures().string()});
    const std::pair<std::string, std::string> cases[] = {
        {service_->base() + "/fixtures/title.html", "Fixture & Title — Tolvar test"},
        {service_->base() + "/fixtures/missing.html", ""},
        {server.url("/page"), "Reached the page"},
        {server.url("/r3"), "Reached the page"},
        {server.url("/r4"), ""},
        {server.url("/to-file"), ""},
        {server.url("/to-ftp"), ""},
        {server.url("/missing"), ""},
        {server.url("/json"), ""},
        {server.url("/latin1"), "Grüße"},
        {server.url("/huge"), ""},
        {server.url("/endless"), "Early title"},  // reading stops once the title arrived
    };
    for (const auto& [url, title] : cases) EXPECT_EQ(titleFor(url), title) << url;
    const auto seen = server.requests();
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const HttpRequest& r) { return r.target == "/page"; }), 2)
        << "the fourth redirect is not followed";
}

// Lookups of pages that never answer or stop sending, for callers that wait, hang up or outlast the
// service: each ends within the fetch time limit, and none blocks the others.
TEST_F(DevserviceMetadata, SlowPagesTimeOutWithoutBlockingOthersOrTheStop) {
    LoopbackHttpServer server(pages);
    start({"--fetch-timeout", "1"});
    const auto fetched = [&server](const std::string& target) {
        return server.waitForRequest([&](const HttpRequest& r) { return r.target == target; }, 10s);
    };
    // A raw call, so the test can hang up on it.
    const auto rawCall = [&](const std::string& target) {
        const auto body = createBody({{"url", server.url(target)}});
        const int fd = testsupport::connectLoopback(port());
        EXPECT_TRUE(testsupport::sendAll(fd, "POST /api/trpc/bookmarks.fetchMetadata?batch=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                             "Content-Type: application/json\r\nCookie: tolvar_session=" +
                                                 std::string(demoToken) + "\r\nContent-Length: " +
                                                 std::to_string(body.size()) + "\r\n\r\n" + body));
        EXPECT_TRUE(fetched(target));
        return fd;
    };

    // The caller hangs up before the lookup ends; the late answer goes nowhere.
    close(rawCall("/stall?leaving"));
    auto stalled = std::async(std::launch::async, [&] { return titleFor(server.url("/stall?waits")); });
    auto stalledBody = std::async(std::launch::async, [&] { return titleFor(server.url("/stall-body")); });
    ASSERT_TRUE(fetched("/stall?waits") && fetched("/stall-body"));
    EXPECT_EQ(get("/app/signin").status, 200);
    EXPECT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org"}})).status, 200);
    EXPECT_EQ(stalled.get(), "");
    EXPECT_EQ(stalledBody.get(), "");
    EXPECT_EQ(get("/app/signin").status, 200) << "the answer to the caller that left did no harm";

    // Nothing listens on a port that was just released.
    const int closedPort = [] {
        LoopbackHttpServer gone([](const HttpRequest&) { return HttpResponse{}; });
        return gone.port();
    }();
    EXPECT_EQ(titleFor("http://127.0.0.1:" + std::to_string(closedPort) + "/"), "");

    // The service is stopped while a lookup waits; it still ends at once and cleanly.
    const int waiting = rawCall("/stall?at-the-stop");
    stopService();
    close(waiting);
}

}  // namespace
