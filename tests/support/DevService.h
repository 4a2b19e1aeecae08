#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/AppProcess.h"

// The real tolvar-devservice run as a child process, and a small HTTP/1.1 client on plain sockets
// (so malformed requests can be sent too).
namespace testsupport {

using Headers = std::vector<std::pair<std::string, std::string>>;
using namespace std::chrono_literals;

void writeFile(const std::filesystem::path& path, const std::string& bytes);

struct HttpReply {
    int status = 0;  // 0: no parseable reply (connection closed, reset or timed out)
    Headers headers;
    std::string body;

    std::optional<std::string> header(const std::string& name) const;
    std::vector<std::string> headerValues(const std::string& name) const;
    nlohmann::json json() const;  // discarded value when the body is not JSON
};

// The start line and the header fields of an HTTP/1.x message head (without its blank line).
struct MessageHead {
    std::string startLine;
    Headers headers;
};
MessageHead parseHead(const std::string& head);
std::string lowercased(std::string text);

HttpReply parseReply(const std::string& raw);  // a whole HTTP/1.x reply, read until the connection closed
int connectLoopback(int port);                  // the socket, or -1
bool sendAll(int fd, const std::string& bytes);  // false when the peer closed or reset the connection
std::string readUntilClosed(int fd, std::chrono::milliseconds timeout);

// One request with "Connection: close"; Host and Content-Length are added.
HttpReply httpRequest(int port, const std::string& method, const std::string& target, const Headers& headers = {},
                      const std::string& body = "", std::chrono::milliseconds timeout = 10s);

// Sends raw bytes on a fresh connection and answers what came back before the connection closed.
std::string rawExchange(int port, const std::string& bytes, std::chrono::milliseconds timeout = 5s);

// The real tolvar-devservice binary, started with the given arguments; stopped (SIGTERM, then SIGKILL)
// with this object. Its output goes to a log file that failing tests print.
class ServiceProcess {
public:
    explicit ServiceProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds startTimeout = 10s);

    int port() const { return port_; }
    const std::string& base() const { return base_; }
    pid_t pid() const { return app_->pid(); }
    bool running() { return app_->running(); }

    // Sends the signal and waits for the exit; answers the exit status, or -1 when a signal ended it or
    // it did not end within the timeout (it is then killed).
    int stop(int signal, std::chrono::milliseconds timeout = 5s);

    std::string log() const;

    // Peak resident memory (VmHWM) in KiB, from /proc.
    long peakResidentKiB() const;

private:
    TemporaryFolder folder_;
    std::unique_ptr<AppProcess> app_;
    int port_ = 0;
    std::string base_;
};

// The fixture pages the service can serve.
std::filesystem::path builtInFixtures();

}  // namespace testsupport
