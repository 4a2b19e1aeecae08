#include "ServiceFixture.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

namespace {

using namespace std::chrono_literals;

// Under AddressSanitizer the service's memory is mostly the sanitizer's own (shadow memory and
// quarantine), so its peak says nothing about buffering there.
#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool memoryIsMeasurable = false;
#else
constexpr bool memoryIsMeasurable = true;
#endif

class DevserviceHostile : public DevserviceProcess {
protected:
    // The server still answers an ordinary request.
    void expectAlive() {
        EXPECT_TRUE(service_->running());
        const auto reply = get("/app", cookie(demoToken));
        EXPECT_EQ(reply.status, 200);
    }

    // Sends a request head and then `bodySize` bytes of body from another thread, reading the reply
    // at the same time, as a browser would.
    testsupport::HttpReply sendLargeBody(const std::string& head, std::size_t bodySize, bool chunked) {
        const int fd = testsupport::connectLoopback(port());
        if (fd < 0) return {};
        auto writer = std::async(std::launch::async, [fd, head, bodySize, chunked] {
            if (!testsupport::sendAll(fd, head)) return;
            const std::string block(64 * 1024, 'x');
            std::size_t sent = 0;
            while (sent < bodySize) {
                const auto size = std::min(block.size(), bodySize - sent);
                std::string piece = block.substr(0, size);
                if (chunked) {
                    char prefix[32];
                    std::snprintf(prefix, sizeof prefix, "%zx\r\n", size);
                    piece = prefix + piece + "\r\n";
                }
                if (!testsupport::sendAll(fd, piece)) return;
                sent += size;
            }
            if (chunked) testsupport::sendAll(fd, "0\r\n\r\n");
        });
        const auto raw = testsupport::readUntilClosed(fd, 20s);
        shutdown(fd, SHUT_RDWR);
        writer.wait();
        close(fd);
        return testsupport::parseReply(raw);
    }
};

TEST_F(DevserviceHostile, OversizedBodiesAreRefusedWithoutBeingBuffered) {
    start();
    const std::string call = "POST /api/trpc/bookmarks.create?batch=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Content-Type: application/json\r\nCookie: tolvar_session=" + std::string(demoToken) + "\r\n";
    const std::size_t size = 50u * 1024 * 1024;
    const auto reply = sendLargeBody(call + "Content-Length: " + std::to_string(size) + "\r\n\r\n", size, false);
    EXPECT_EQ(reply.status, 413);
    const auto json = reply.json();
    ASSERT_TRUE(json.is_array()) << reply.body;
    EXPECT_EQ(json[0]["error"]["json"]["data"]["code"], "PAYLOAD_TOO_LARGE");
    EXPECT_TRUE(json[0]["error"]["json"]["message"].is_string());
    const long peakKiB = service_->peakResidentKiB();
    EXPECT_GT(peakKiB, 0) << "peak memory could not be read";
    if (memoryIsMeasurable) {
        EXPECT_LT(peakKiB, 40 * 1024) << "the body was held in memory";
    }

    EXPECT_EQ(sendLargeBody(call + "Transfer-Encoding: chunked\r\n\r\n", 3u * 1024 * 1024, true).status, 413);
    // Forms have a smaller limit.
    const std::string form = "POST /app/bookmarks/new HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                             "application/x-www-form-urlencoded\r\nCookie: tolvar_session=" +
                             std::string(demoToken) + "\r\nContent-Length: 200000\r\n\r\n";
    EXPECT_EQ(sendLargeBody(form, 200000, false).status, 413);
    expectAlive();
    EXPECT_TRUE(bookmarks().empty());
}

// One client stops in its request's head, one in its body, one sends a header byte every 100 ms
// (each read is quick, the whole request never comes): all are cut off after the client timeout,
// long before the reader gives up, and meanwhile others are served.
TEST_F(DevserviceHostile, SlowClientsNeitherBlockOthersNorHoldTheirConnectionForEver) {
    start({"--client-timeout", "1"});
    const int slowHead = testsupport::connectLoopback(port());
    ASSERT_TRUE(testsupport::sendAll(slowHead, "POST /api/trpc/bookmarks.create?batch=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nCont"));
    const int slowBody = testsupport::connectLoopback(port());
    ASSERT_TRUE(testsupport::sendAll(slowBody, "POST /api/trpc/bookmarks.create?batch=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                           "Content-Type: application/json\r\nCookie: tolvar_session=" +
                                               std::string(demoToken) + "\r\nContent-Length: 1000\r\n\r\n{\"0\":"));
    auto trickling = std::async(std::launch::async, [port = port()] {
        const int fd = testsupport::connectLoopback(port);
        const std::string head = "GET /app HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(200, 'a');
        bool closedByService = false;
        for (std::size_t i = 0; i < head.size() && !closedByService; ++i) {
            pollfd answer{fd, POLLIN, 0};  // an answer, the end of the stream or an error
            closedByService = !testsupport::sendAll(fd, head.substr(i, 1)) || poll(&answer, 1, 100) != 0;
        }
        close(fd);
        return closedByService;
    });

    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org/" + std::to_string(i)}})).status, 200);
    }
    for (int fd : {slowHead, slowBody}) {
        testsupport::readUntilClosed(fd, 20s);
        char byte;
        const auto n = recv(fd, &byte, 1, MSG_DONTWAIT);
        EXPECT_TRUE(n == 0 || (n < 0 && errno == ECONNRESET)) << "the service left the connection open";
        close(fd);
    }
    EXPECT_TRUE(trickling.get()) << "the trickling client was never cut off";
    EXPECT_EQ(bookmarks().size(), 5u);
    expectAlive();
}

}  // namespace
