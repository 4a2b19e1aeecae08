#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

// A browser's remote-debugging endpoint on 127.0.0.1, asked with a deadline: every connect, write
// and read waits only until the deadline, so a browser that hangs cannot hold up the caller.
namespace capture {

using Clock = std::chrono::steady_clock;

enum class EndpointFailure {
    refused,     // nothing listens on the port, or the connection was reset
    timedOut,    // the deadline passed
    unreadable,  // an answer that is not what the endpoint sends
};

template <typename T>
using EndpointAnswer = std::variant<T, EndpointFailure>;

// The body of a 200 answer to GET `path` from 127.0.0.1:`port`, at most `longest` bytes.
EndpointAnswer<std::string> httpGet(int port, std::string_view path, Clock::time_point deadline, std::size_t longest);

// Evaluates `expression` in the page target `pageId` through the endpoint's WebSocket and answers
// the boolean it gives.
EndpointAnswer<bool> evaluateBooleanInPage(int port, std::string_view pageId, std::string_view expression,
                                           Clock::time_point deadline);

}  // namespace capture
