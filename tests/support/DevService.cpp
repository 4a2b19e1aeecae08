#include "tests/support/DevService.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::chrono::steady_clock::time_point deadlineAfter(std::chrono::milliseconds timeout) {
    return std::chrono::steady_clock::now() + timeout;
}

int millisLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string decodeChunked(const std::string& body) {
    std::string out;
    std::size_t pos = 0;
    while (pos < body.size()) {
        const auto lineEnd = body.find("\r\n", pos);
        if (lineEnd == std::string::npos) break;
        const auto size = std::strtoul(body.substr(pos, lineEnd - pos).c_str(), nullptr, 16);
        pos = lineEnd + 2;
        if (size == 0) break;
        out += body.substr(pos, size);
        pos += size + 2;
    }
    return out;
}

// Starts the service with its standard output on a pipe, whose reading end is answered.
std::pair<pid_t, int> spawnService(const std::vector<std::string>& arguments, const std::filesystem::path& logFile) {
    std::vector<std::string> argvStrings{TOLVAR_DEVSERVICE_BIN};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        throw std::runtime_error("cannot start " + argvStrings[0] + ": " + std::strerror(rc));
    }
    return {pid, pipeFds[0]};
}

// waitpid with a time limit; answers the decoded exit status or nothing.
std::optional<int> waitWithTimeout(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = deadlineAfter(timeout);
    while (true) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
            return -1;
        }
        if (done < 0) return -1;
        if (millisLeft(deadline) == 0) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

}  // namespace

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// --- HTTP client -------------------------------------------------------------------------------

std::optional<std::string> HttpReply::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (lower(key) == lower(name)) return value;
    }
    return std::nullopt;
}

std::vector<std::string> HttpReply::headerValues(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (lower(key) == lower(name)) values.push_back(value);
    }
    return values;
}

nlohmann::json HttpReply::json() const { return nlohmann::json::parse(body, nullptr, false); }

HttpReply parseReply(const std::string& raw) {
    HttpReply reply;
    const auto headEnd = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || headEnd == std::string::npos) return reply;
    std::istringstream head(raw.substr(0, headEnd));
    std::string line;
    std::getline(head, line);
    if (line.size() < 12) return reply;
    reply.status = std::atoi(line.substr(9, 3).c_str());
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        auto value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        reply.headers.emplace_back(line.substr(0, colon), value);
    }
    reply.body = raw.substr(headEnd + 4);
    if (lower(reply.header("Transfer-Encoding").value_or("")) == "chunked") {
        reply.body = decodeChunked(reply.body);
    } else if (auto length = reply.header("Content-Length")) {
        reply.body = reply.body.substr(0, std::strtoul(length->c_str(), nullptr, 10));
    }
    return reply;
}

int connectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string readUntilClosed(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = deadlineAfter(timeout);
    std::string data;
    char buffer[65536];
    while (true) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, millisLeft(deadline));
        if (ready <= 0) break;
        const auto n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

HttpReply httpRequest(int port, const std::string& method, const std::string& target, const Headers& headers,
                      const std::string& body, std::chrono::milliseconds timeout) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
    if (!body.empty() || method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    return parseReply(rawExchange(port, request, timeout));
}

std::string rawExchange(int port, const std::string& bytes, std::chrono::milliseconds timeout) {
    const int fd = connectLoopback(port);
    if (fd < 0) return {};
    sendAll(fd, bytes);
    auto reply = readUntilClosed(fd, timeout);
    close(fd);
    return reply;
}

// --- ServiceProcess ----------------------------------------------------------------------------

std::filesystem::path builtInFixtures() { return TOLVAR_DEVSERVICE_FIXTURES; }

ServiceProcess::ServiceProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds startTimeout) {
    char pattern[] = "/tmp/tolvar-devservice-log-XXXXXX";
    const int logFd = mkstemp(pattern);
    if (logFd < 0) throw std::runtime_error("mkstemp failed");
    close(logFd);
    logFile_ = pattern;

    auto [pid, out] = spawnService(arguments, logFile_);
    pid_ = pid;
    std::string firstLine;
    const auto deadline = deadlineAfter(startTimeout);
    while (firstLine.find('\n') == std::string::npos) {
        pollfd p{out, POLLIN, 0};
        if (poll(&p, 1, millisLeft(deadline)) <= 0) break;
        char buffer[256];
        const auto n = read(out, buffer, sizeof buffer);
        if (n <= 0) break;
        firstLine.append(buffer, static_cast<std::size_t>(n));
    }
    close(out);
    const auto newline = firstLine.find('\n');
    const std::string prefix = "http://127.0.0.1:";
    if (newline == std::string::npos || firstLine.rfind(prefix, 0) != 0) {
        stop(SIGKILL);
        throw std::runtime_error("the service printed no address; its log:\n" + log());
    }
    base_ = firstLine.substr(0, newline);
    port_ = std::atoi(base_.substr(prefix.size()).c_str());
}

ServiceProcess::~ServiceProcess() {
    if (running()) stop(SIGTERM, 2s);  // falls back to SIGKILL
    std::error_code ignored;
    std::filesystem::remove(logFile_, ignored);
}

bool ServiceProcess::running() {
    if (exitStatus_ || pid_ <= 0) return false;
    if (auto status = waitWithTimeout(pid_, 0ms)) {
        exitStatus_ = *status;
        return false;
    }
    return true;
}

int ServiceProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (!running()) return exitStatus_.value_or(-1);
    kill(pid_, signal);
    if (auto status = waitWithTimeout(pid_, timeout)) {
        exitStatus_ = *status;
        return *status;
    }
    kill(pid_, SIGKILL);
    exitStatus_ = waitWithTimeout(pid_, 5s).value_or(-1);
    return -1;
}

std::string ServiceProcess::log() const { return readFile(logFile_); }

long ServiceProcess::peakResidentKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

}  // namespace testsupport
