#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct HttpRequest {
    std::string method;
    std::string target;                          // path and query as sent
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;

    std::string header(const std::string& name) const;
    // The value of one cookie from the Cookie header, or "" when absent.
    std::string cookie(const std::string& name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::optional<std::size_t> announcedLength;  // the Content-Length sent instead of the body's size
    // After the body the connection closes; or stays open and silent until the server stops; or gets
    // `repeated`, `pause` apart, until the client goes away (with no length unless one is announced).
    enum class Then { close, stall, repeat } then = Then::close;
    std::string repeated;
    std::chrono::milliseconds pause{0};
    bool silent = false;  // nothing at all is sent: with Then::stall, a server that never answers
};

// A small HTTP/1.1 server on 127.0.0.1 and a free port, for tests. Every connection is served on a
// thread of its own and closed after one answer. Requests are recorded for the test to inspect.
class LoopbackHttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();

    int port() const { return port_; }
    std::string url(const std::string& path) const;

    std::vector<HttpRequest> requests() const;
    // Waits until a recorded request matches, or the time runs out.
    bool waitForRequest(const std::function<bool(const HttpRequest&)>& matches, std::chrono::milliseconds timeout);

private:
    void acceptLoop();
    void serve(int connection);

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    bool stopping_ = false;
    std::thread acceptor_;
    std::vector<std::thread> connections_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HttpRequest> requests_;
};

}  // namespace testsupport
