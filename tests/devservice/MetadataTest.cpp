#include "ServiceFixture.h"

#include <unistd.h>

#include <future>

namespace {

using namespace std::chrono_literals;

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

    static devtest::TinyHttpServer::Reply pages(const std::string& path) {
        using Server = devtest::TinyHttpServer;
        if (path == "/page") return Server::html("<html><head><title>Reached the page</title></head></html>");
        if (path == "/r1") return Server::redirect("/page");
        if (path == "/r2") return Server::redirect("/r1");
        if (path == "/r3") return Server::redirect("r2");
        if (path == "/r4") return Server::redirect("/r3");
        if (path == "/to-file") return Server::redirect("file:///etc/hostname");
        if (path == "/to-ftp") return Server::redirect("ftp://127.0.0.1/x");
        if (path == "/latin1") return Server::html("<title>Gr\xFC\xDF" "e</title>", "text/html; charset=iso-8859-1");
        if (path == "/json") return Server::html("{\"title\":\"<title>no</title>\"}", "application/json");
        if (path == "/missing") {
            return Server::Reply{"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 27\r\n\r\n"
                                 "<title>Not the title</title>",
                                 false, false};
        }
        if (path == "/stall") return Server::Reply{"", true, false};
        if (path == "/stall-body") {
            return Server::Reply{"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><head><tit", true, false};
        }
        if (path == "/huge") {
            // The title comes after the size cap.
            const std::string body = "<html><head>" + std::string(3 * 1024 * 1024, ' ') + "<title>Too far</title>";
            return Server::html(body);
        }
        if (path == "/endless") {
            return Server::Reply{"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><head><title>Early title</title>",
                                 false, true};
        }
        return Server::html("<title>Unknown path</title>");
    }
};

TEST_F(DevserviceMetadata, AnswersTheTitleOfAPageTheServiceItselfServes) {
    start({"--pages", devtest::builtInFixtures().string()});
    EXPECT_EQ(titleFor(service_->base() + "/fixtures/title.html"), "Fixture & Title — Tolvar test");
    EXPECT_EQ(titleFor(service_->base() + "/fixtures/links.html"), "Links");
    EXPECT_EQ(titleFor(service_->base() + "/fixtures/missing.html"), "");
    EXPECT_EQ(titleFor(service_->base() + "/fixtures/sample.zip"), "");
}

TEST_F(DevserviceMetadata, FollowsAtMostThreeRedirectsOverHttpOnly) {
    devtest::TinyHttpServer server(pages);
    start();
    EXPECT_EQ(titleFor(server.url("/page")), "Reached the page");
    EXPECT_EQ(titleFor(server.url("/r3")), "Reached the page");
    EXPECT_EQ(titleFor(server.url("/r4")), "");
    EXPECT_EQ(titleFor(server.url("/to-file")), "");
    EXPECT_EQ(titleFor(server.url("/to-ftp")), "");
    EXPECT_EQ(titleFor(server.url("/missing")), "");
    EXPECT_EQ(titleFor(server.url("/json")), "");
    EXPECT_EQ(titleFor(server.url("/latin1")), "Grüße");
    const auto seen = server.paths();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "/page"), 2) << "the fourth redirect is not followed";
}

TEST_F(DevserviceMetadata, RefusesAddressesThatAreNotHttpOrHttps) {
    start();
    for (const std::string url : {"file:///etc/passwd", "ftp://127.0.0.1/", "about:blank", "data:text/html,<title>x</title>",
                                  "javascript:alert(1)", "127.0.0.1:80"}) {
        const auto reply = api("bookmarks.fetchMetadata", createBody({{"url", url}}));
        EXPECT_EQ(reply.status, 400) << url;
    }
    EXPECT_EQ(api("bookmarks.fetchMetadata", "{}").status, 400);
}

TEST_F(DevserviceMetadata, CapsTheBodyAndStopsReadingOnceTheTitleArrived) {
    devtest::TinyHttpServer server(pages);
    start();
    EXPECT_EQ(titleFor(server.url("/huge")), "");
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(titleFor(server.url("/endless")), "Early title");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
}

TEST_F(DevserviceMetadata, SlowOrDeadPagesTimeOutWithoutBlockingOtherRequests) {
    devtest::TinyHttpServer server(pages);
    start({"--fetch-timeout", "1"});
    auto stalled = std::async(std::launch::async, [&] { return titleFor(server.url("/stall")); });
    auto stalledBody = std::async(std::launch::async, [&] { return titleFor(server.url("/stall-body")); });

    // While both lookups wait, the service answers everybody else.
    std::this_thread::sleep_for(200ms);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(get("/app/signin").status, 200);
    EXPECT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org"}})).status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(700));

    EXPECT_EQ(stalled.get(), "");
    EXPECT_EQ(stalledBody.get(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(4));

    // Nothing listens on a port that was just released.
    const int closedPort = [] {
        devtest::TinyHttpServer gone([](const std::string&) { return devtest::TinyHttpServer::Reply{}; });
        return gone.port();
    }();
    EXPECT_EQ(titleFor("http://127.0.0.1:" + std::to_string(closedPort) + "/"), "");
}

TEST_F(DevserviceMetadata, ClientsThatLeaveDuringALookupAndStoppingMidLookupAreHandled) {
    devtest::TinyHttpServer server(pages);
    start({"--fetch-timeout", "1"});
    const auto body = createBody({{"url", server.url("/stall")}});
    const std::string request = "POST /api/trpc/bookmarks.fetchMetadata?batch=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Content-Type: application/json\r\nCookie: tolvar_session=" +
                                std::string(demoToken) + "\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n\r\n" + body;

    // The caller hangs up before the lookup ends; the late answer goes nowhere.
    const int leaving = devtest::connectLoopback(port());
    ASSERT_TRUE(devtest::sendAll(leaving, request));
    std::this_thread::sleep_for(200ms);
    close(leaving);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(get("/app/signin").status, 200);

    // The service is stopped while a lookup waits; it still ends at once and cleanly.
    const int waiting = devtest::connectLoopback(port());
    ASSERT_TRUE(devtest::sendAll(waiting, request));
    std::this_thread::sleep_for(200ms);
    const auto begin = std::chrono::steady_clock::now();
    stopService();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    close(waiting);
}

}  // namespace
