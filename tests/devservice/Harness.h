#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

// Helpers for the tests of tolvar-devservice: a temporary folder, the real service binary run as a
// child process, a small HTTP/1.1 client on plain sockets (so malformed requests can be sent too),
// and a tiny loopback HTTP server for pages the service is asked to fetch.
namespace devtest {

using Headers = std::vector<std::pair<std::string, std::string>>;
using namespace std::chrono_literals;

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

struct HttpReply {
    int status = 0;  // 0: no parseable reply (connection closed, reset or timed out)
    Headers headers;
    std::string body;

    std::optional<std::string> header(const std::string& name) const;
    std::vector<std::string> headerValues(const std::string& name) const;
    nlohmann::json json() const;  // discarded value when the body is not JSON
};

// Parses a complete HTTP/1.x reply read up to the closing of the connection.
HttpReply parseReply(const std::string& raw);

// Connects to 127.0.0.1:port; answers the socket or -1.
int connectLoopback(int port);

// Sends all bytes; false when the peer closed or reset the connection.
bool sendAll(int fd, const std::string& bytes);

// Reads until the peer closes or `timeout` passes.
std::string readUntilClosed(int fd, std::chrono::milliseconds timeout);

// One request with "Connection: close"; Host and Content-Length are added.
HttpReply httpRequest(int port, const std::string& method, const std::string& target, const Headers& headers = {},
                      const std::string& body = "", std::chrono::milliseconds timeout = 10s);

// Sends raw bytes on a fresh connection and answers what came back before the connection closed.
std::string rawExchange(int port, const std::string& bytes, std::chrono::milliseconds timeout = 5s);

// The real tolvar-devservice binary, started with the given arguments. Its standard error goes to
// a log file that failing tests print.
class ServiceProcess {
public:
    explicit ServiceProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds startTimeout = 10s);
    // Stops the service if it still runs: SIGTERM, then SIGKILL after two seconds.
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return port_; }
    const std::string& base() const { return base_; }
    pid_t pid() const { return pid_; }

    // True while the process has not exited.
    bool running();

    // Sends the signal and waits for the exit; answers the exit status, 128 + signal number when a
    // signal ended it, or -1 when it did not end within the timeout (it is then killed).
    int stop(int signal, std::chrono::milliseconds timeout = 5s);

    std::string log() const;

    // Peak resident memory (VmHWM) in KiB, from /proc.
    long peakResidentKiB() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string base_;
    std::filesystem::path logFile_;
    std::optional<int> exitStatus_;
};

// Runs the binary to completion (for argument errors); answers exit status and standard error.
std::pair<int, std::string> runToExit(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout = 10s);

std::string serviceBinary();
std::filesystem::path builtInFixtures();

// A tiny HTTP server on 127.0.0.1 for pages the service fetches: every connection runs in its
// own thread and is answered by the handler, which sees the request path.
class TinyHttpServer {
public:
    struct Reply {
        std::string bytes;        // written as is (status line, headers, body)
        bool stall = false;       // write `bytes`, then keep the connection open without a word
        bool endless = false;     // write `bytes`, then padding until the peer goes away
    };
    using Handler = std::function<Reply(const std::string& path)>;

    explicit TinyHttpServer(Handler handler);
    ~TinyHttpServer();
    TinyHttpServer(const TinyHttpServer&) = delete;
    TinyHttpServer& operator=(const TinyHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // Every request path seen so far.
    std::vector<std::string> paths();

    static Reply html(const std::string& body, const std::string& contentType = "text/html; charset=utf-8");
    static Reply redirect(const std::string& location);

private:
    void acceptLoop();
    void serve(int fd);

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<int> connections_;
    std::vector<std::string> paths_;
};

}  // namespace devtest
