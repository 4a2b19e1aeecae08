#include "tests/support/LoopbackHttpServer.h"

#include "tests/support/DevService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

// Reads one request (head and a Content-Length body); false when the peer sent none in time.
bool readRequest(int connection, HttpRequest& request) {
    std::string data;
    char buffer[8192];
    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    while (true) {
        if (headEnd != std::string::npos && data.size() >= headEnd + 4 + wanted) break;
        pollfd ready{connection, POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0) return false;
        const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        data.append(buffer, size_t(got));
        if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
            const auto head = parseHead(data.substr(0, headEnd));
            std::istringstream(head.startLine) >> request.method >> request.target;
            for (const auto& [name, value] : head.headers) request.headers[lowercased(name)] = value;
            if (auto length = request.headers.find("content-length"); length != request.headers.end()) {
                wanted = std::stoul(length->second);
            }
        }
    }
    request.body = data.substr(headEnd + 4, wanted);
    return true;
}

std::string headOf(const HttpResponse& response) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Answer\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    if (response.then != HttpResponse::Then::repeat || response.announcedLength) {
        head += "Content-Length: " + std::to_string(response.announcedLength.value_or(response.body.size())) + "\r\n";
    }
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    return head + "Connection: close\r\n\r\n";
}

}  // namespace

std::string HttpRequest::header(const std::string& name) const {
    auto found = headers.find(lowercased(name));
    return found == headers.end() ? "" : found->second;
}

std::string HttpRequest::cookie(const std::string& name) const {
    std::istringstream cookies(header("cookie"));
    for (std::string pair; std::getline(cookies, pair, ';');) {
        pair.erase(0, pair.find_first_not_of(' '));
        if (pair.rfind(name + "=", 0) == 0) return pair.substr(name.size() + 1);
    }
    return "";
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    close(listener_);
    for (auto& connection : connections_) connection.join();
}

std::string LoopbackHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHttpServer::acceptLoop() {
    while (true) {
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (stopping_ || connection < 0) {
            if (connection >= 0) close(connection);
            if (stopping_) return;
            continue;
        }
        connections_.emplace_back([this, connection] { serve(connection); });
    }
}

void LoopbackHttpServer::serve(int connection) {
    HttpRequest request;
    if (readRequest(connection, request)) {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        changed_.notify_all();
        const HttpResponse response = handler_(request);
        const bool sent = response.silent || sendAll(connection, headOf(response) + response.body);
        if (sent && response.then == HttpResponse::Then::stall) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_; });
        }
        // Paced by waiting for the stop, so a stopping server does not wait out the pause.
        while (sent && response.then == HttpResponse::Then::repeat && sendAll(connection, response.repeated)) {
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, response.pause, [this] { return stopping_; })) break;
        }
    }
    close(connection);
}

std::vector<HttpRequest> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackHttpServer::waitForRequest(const std::function<bool(const HttpRequest&)>& matches,
                                        std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return std::any_of(requests_.begin(), requests_.end(), matches); });
}

}  // namespace testsupport
