#include "tests/support/DevService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {
namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string lowercased(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// --- HTTP client -------------------------------------------------------------------------------

std::optional<std::string> HttpReply::header(const std::string& name) const {
    const auto values = headerValues(name);
    return values.empty() ? std::nullopt : std::optional(values.front());
}

std::vector<std::string> HttpReply::headerValues(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (lowercased(key) == lowercased(name)) values.push_back(value);
    }
    return values;
}

nlohmann::json HttpReply::json() const { return nlohmann::json::parse(body, nullptr, false); }

MessageHead parseHead(const std::string& head) {
    MessageHead parsed;
    std::istringstream lines(head);
    std::getline(lines, parsed.startLine);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        if (colon != std::string::npos) parsed.headers.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
    }
    return parsed;
}

HttpReply parseReply(const std::string& raw) {
    HttpReply reply;
    const auto headEnd = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || headEnd == std::string::npos) return reply;
    auto head = parseHead(raw.substr(0, headEnd));
    if (head.startLine.size() < 12) return reply;
    reply.status = std::atoi(head.startLine.substr(9, 3).c_str());
    reply.headers = std::move(head.headers);
    reply.body = raw.substr(headEnd + 4);  // the service announces the length of every answer
    if (auto length = reply.header("Content-Length")) {
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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string data;
    char buffer[65536];
    for (pollfd ready{fd, POLLIN, 0}; poll(&ready, 1, millisecondsUntil(deadline)) > 0;) {
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

ServiceProcess::ServiceProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds startTimeout)
    : app_(std::make_unique<AppProcess>(TOLVAR_DEVSERVICE_BIN, std::map<std::string, std::optional<std::string>>{},
                                        arguments, folder_.path() / "log")) {
    // The service prints its address as a line of its own once it listens.
    const std::string prefix = "http://127.0.0.1:";
    const auto addressLine = [&] {
        std::istringstream lines(log());
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(prefix) && !lines.eof()) return line;
        }
        return std::string();
    };
    waitForChangeIn(folder_.path(), [&] { return !addressLine().empty() || !app_->running(); }, startTimeout);
    base_ = addressLine();
    if (base_.empty()) throw std::runtime_error("the service printed no address; its log:\n" + log());
    port_ = std::atoi(base_.substr(prefix.size()).c_str());
}

int ServiceProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (app_->running()) kill(app_->pid(), signal);
    app_->waitForExit(timeout);
    return app_->terminate(0ms);
}

std::string ServiceProcess::log() const { return readFile(folder_.path() / "log"); }

long ServiceProcess::peakResidentKiB() const {
    std::ifstream status("/proc/" + std::to_string(app_->pid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

}  // namespace testsupport
