#include "platform/capture/DevTools.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include <glib.h>
#include <nlohmann/json.hpp>

#include "platform/Text.h"
#include "platform/capture/CaptureRules.h"

namespace capture {
namespace {

constexpr std::size_t longestHeaders = 16 * 1024;
constexpr std::size_t longestWebSocketMessage = 1024 * 1024;

// A connected socket, closed with this object.
class Connection {
public:
    Connection() = default;
    explicit Connection(int fd) : fd_(fd) {}
    ~Connection() {
        if (fd_ >= 0) ::close(fd_);
    }
    Connection(Connection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Connection& operator=(Connection&&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

// Waits for `events` on the socket until the deadline; false when the time ran out.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int left = millisecondsLeft(deadline);
        if (left == 0) return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, left);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return true;  // the next call reports the error
    }
}

EndpointAnswer<Connection> connectLoopback(int port, Clock::time_point deadline) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return EndpointFailure::refused;
    Connection connection(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return EndpointFailure::refused;
        if (!waitFor(fd, POLLOUT, deadline)) return EndpointFailure::timedOut;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return EndpointFailure::refused;
    }
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    return connection;
}

std::optional<EndpointFailure> sendAll(int fd, std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        const ssize_t put = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (put > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(put));
        } else if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLOUT, deadline)) return EndpointFailure::timedOut;
        } else {
            return EndpointFailure::refused;
        }
    }
    return std::nullopt;
}

// Reads what is available (waiting until the deadline for the first byte) and appends it; answers
// false with the reason when nothing more can come. `closed` is set when the peer closed.
std::optional<EndpointFailure> receiveSome(int fd, std::string& into, Clock::time_point deadline, bool& closed) {
    std::array<char, 16 * 1024> buffer;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got > 0) {
            into.append(buffer.data(), static_cast<std::size_t>(got));
            return std::nullopt;
        }
        if (got == 0) {
            closed = true;
            return std::nullopt;
        }
        if (errno == EAGAIN || errno == EINTR) {
            if (!waitFor(fd, POLLIN, deadline)) return EndpointFailure::timedOut;
            continue;
        }
        return EndpointFailure::refused;
    }
}

struct HttpHead {
    int status = 0;
    std::optional<std::size_t> contentLength;
    std::string lowerHeaders;  // the header lines, lower-cased, for simple checks
};

std::optional<HttpHead> parseHead(std::string_view head) {
    if (!head.starts_with("HTTP/1.") || head.size() < 12 || head[8] != ' ') return std::nullopt;
    HttpHead parsed;
    for (int i = 9; i < 12; ++i) {
        if (head[i] < '0' || head[i] > '9') return std::nullopt;
        parsed.status = parsed.status * 10 + (head[i] - '0');
    }
    parsed.lowerHeaders = platform::asciiLowercased(head);
    const auto at = parsed.lowerHeaders.find("\r\ncontent-length:");
    if (at != std::string::npos) {
        std::size_t position = at + 17;
        while (position < parsed.lowerHeaders.size() && parsed.lowerHeaders[position] == ' ') ++position;
        std::size_t length = 0;
        bool digits = false;
        while (position < parsed.lowerHeaders.size() && std::isdigit(static_cast<unsigned char>(parsed.lowerHeaders[position]))) {
            if (length > longestWebSocketMessage * 64) return std::nullopt;
            length = length * 10 + static_cast<std::size_t>(parsed.lowerHeaders[position++] - '0');
            digits = true;
        }
        if (!digits) return std::nullopt;
        parsed.contentLength = length;
    }
    return parsed;
}

// Reads the head of an HTTP answer; what came after it stays in `rest`.
EndpointAnswer<HttpHead> readHead(int fd, Clock::time_point deadline, std::string& rest) {
    std::string received;
    for (;;) {
        const auto end = received.find("\r\n\r\n");
        if (end != std::string::npos) {
            auto head = parseHead(std::string_view(received).substr(0, end + 2));
            if (!head) return EndpointFailure::unreadable;
            rest = received.substr(end + 4);
            return *head;
        }
        if (received.size() > longestHeaders) return EndpointFailure::unreadable;
        bool closed = false;
        if (auto failure = receiveSome(fd, received, deadline, closed)) return *failure;
        if (closed) return received.empty() ? EndpointFailure::refused : EndpointFailure::unreadable;
    }
}

std::string randomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::getrandom(bytes.data() + done, count - done, 0);
        if (got > 0) done += static_cast<std::size_t>(got);
        else if (errno != EINTR) break;
    }
    return bytes;
}

std::string base64(std::string_view bytes) {
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string text(encoded);
    g_free(encoded);
    return text;
}

// The Sec-WebSocket-Accept value a WebSocket server answers to `key`.
std::string acceptFor(const std::string& key) {
    const std::string joined = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA1);
    g_checksum_update(checksum, reinterpret_cast<const guchar*>(joined.data()), gssize(joined.size()));
    std::array<guint8, 20> digest{};
    gsize length = digest.size();
    g_checksum_get_digest(checksum, digest.data(), &length);
    g_checksum_free(checksum);
    return base64(std::string_view(reinterpret_cast<const char*>(digest.data()), length));
}

std::string maskedTextFrame(std::string_view payload) {
    std::string frame;
    frame.push_back(static_cast<char>(0x81));
    if (payload.size() < 126) {
        frame.push_back(static_cast<char>(0x80 | payload.size()));
    } else {
        frame.push_back(static_cast<char>(0x80 | 126));
        frame.push_back(static_cast<char>((payload.size() >> 8) & 0xff));
        frame.push_back(static_cast<char>(payload.size() & 0xff));
    }
    const std::string mask = randomBytes(4);
    frame += mask;
    for (std::size_t i = 0; i < payload.size(); ++i) frame.push_back(static_cast<char>(payload[i] ^ mask[i % 4]));
    return frame;
}

// One complete WebSocket frame at the start of `buffer`: its opcode, whether it ends a message,
// and its unmasked payload; nothing while more bytes are needed.
struct WebSocketFrame {
    int opcode = 0;
    bool final = false;
    std::string payload;
};
std::optional<WebSocketFrame> takeFrame(std::string& buffer, bool& tooLong) {
    if (buffer.size() < 2) return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(buffer[i]); };
    std::size_t position = 2;
    std::uint64_t length = byte(1) & 0x7f;
    if (length == 126) {
        if (buffer.size() < 4) return std::nullopt;
        length = (std::uint64_t{byte(2)} << 8) | byte(3);
        position = 4;
    } else if (length == 127) {
        if (buffer.size() < 10) return std::nullopt;
        length = 0;
        for (std::size_t i = 2; i < 10; ++i) length = (length << 8) | byte(i);
        position = 10;
    }
    if (length > longestWebSocketMessage) {
        tooLong = true;
        return std::nullopt;
    }
    const bool masked = (byte(1) & 0x80) != 0;
    std::string mask;
    if (masked) {
        if (buffer.size() < position + 4) return std::nullopt;
        mask = buffer.substr(position, 4);
        position += 4;
    }
    if (buffer.size() < position + length) return std::nullopt;
    WebSocketFrame frame{byte(0) & 0x0f, (byte(0) & 0x80) != 0, buffer.substr(position, length)};
    if (masked) {
        for (std::size_t i = 0; i < frame.payload.size(); ++i) frame.payload[i] ^= mask[i % 4];
    }
    buffer.erase(0, position + length);
    return frame;
}

}  // namespace

EndpointAnswer<std::string> httpGet(int port, std::string_view path, Clock::time_point deadline, std::size_t longest) {
    auto connected = connectLoopback(port, deadline);
    if (auto* failure = std::get_if<EndpointFailure>(&connected)) return *failure;
    const int fd = std::get<Connection>(connected).fd();
    const std::string request = "GET " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nAccept: application/json\r\nConnection: close\r\n\r\n";
    if (auto failure = sendAll(fd, request, deadline)) return *failure;
    std::string body;
    auto head = readHead(fd, deadline, body);
    if (auto* failure = std::get_if<EndpointFailure>(&head)) return *failure;
    const auto& parsed = std::get<HttpHead>(head);
    if (parsed.status != 200 || parsed.lowerHeaders.find("\r\ntransfer-encoding:") != std::string::npos) {
        return EndpointFailure::unreadable;
    }
    if (parsed.contentLength && *parsed.contentLength > longest) return EndpointFailure::unreadable;
    for (;;) {
        if (parsed.contentLength && body.size() >= *parsed.contentLength) {
            body.resize(*parsed.contentLength);
            return body;
        }
        if (body.size() > longest) return EndpointFailure::unreadable;
        bool closed = false;
        if (auto failure = receiveSome(fd, body, deadline, closed)) return *failure;
        if (closed) {
            if (parsed.contentLength) return EndpointFailure::unreadable;
            return body;
        }
    }
}

EndpointAnswer<bool> evaluateBooleanInPage(int port, std::string_view pageId, std::string_view expression,
                                           Clock::time_point deadline) {
    auto connected = connectLoopback(port, deadline);
    if (auto* failure = std::get_if<EndpointFailure>(&connected)) return *failure;
    const int fd = std::get<Connection>(connected).fd();
    const std::string key = base64(randomBytes(16));
    const std::string upgrade = "GET /devtools/page/" + std::string(pageId) + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(port) +
                                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + key +
                                "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (auto failure = sendAll(fd, upgrade, deadline)) return *failure;
    std::string buffer;
    auto head = readHead(fd, deadline, buffer);
    if (auto* failure = std::get_if<EndpointFailure>(&head)) return *failure;
    const auto& parsed = std::get<HttpHead>(head);
    if (parsed.status != 101 ||
        parsed.lowerHeaders.find("\r\nsec-websocket-accept: " + platform::asciiLowercased(acceptFor(key))) == std::string::npos) {
        return EndpointFailure::unreadable;
    }

    constexpr int requestId = 1;
    const nlohmann::json call{{"id", requestId},
                              {"method", "Runtime.evaluate"},
                              {"params", {{"expression", expression}, {"returnByValue", true}}}};
    if (auto failure = sendAll(fd, maskedTextFrame(call.dump()), deadline)) return *failure;

    std::string message;
    for (;;) {
        bool tooLong = false;
        while (auto frame = takeFrame(buffer, tooLong)) {
            if (frame->opcode == 0x8) return EndpointFailure::refused;  // the endpoint closed the session
            if (frame->opcode == 0x1 || frame->opcode == 0x0) {
                message += frame->payload;
                if (message.size() > longestWebSocketMessage) return EndpointFailure::unreadable;
                if (!frame->final) continue;
                if (auto value = evaluatedBoolean(message, requestId)) return *value;
                const auto answer = nlohmann::json::parse(message, nullptr, false);
                if (answer.is_object() && answer.contains("id")) {
                    return EndpointFailure::unreadable;  // our call failed or gave no boolean
                }
                message.clear();  // an event or another answer: keep reading
            }
        }
        if (tooLong) return EndpointFailure::unreadable;
        bool closed = false;
        if (auto failure = receiveSome(fd, buffer, deadline, closed)) return *failure;
        if (closed) return EndpointFailure::refused;
    }
}

}  // namespace capture
