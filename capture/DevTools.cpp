#include "capture/DevTools.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "capture/CaptureRules.h"

namespace capture {
namespace {

constexpr std::size_t longestWebSocketMessage = 1024 * 1024;
constexpr gsize readChunk = 16 * 1024;

// A main context of this call's own, the thread's default while it lives: a session made under it
// does all its work there, so waiting for the endpoint runs none of the caller's sources.
class PrivateContext {
public:
    PrivateContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~PrivateContext() {
        // Lets the closing of what the session left behind finish; what still waits after that
        // goes with the context.
        for (int round = 0; round < 100 && g_main_context_iteration(context_, FALSE); ++round) {
        }
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    PrivateContext(const PrivateContext&) = delete;
    PrivateContext& operator=(const PrivateContext&) = delete;
    GMainContext* get() const { return context_; }

private:
    GMainContext* context_;
};

// A session for the loopback endpoint only: never through a proxy.
SoupSession* loopbackSession() {
    SoupSession* session = soup_session_new();
    soup_session_set_proxy_resolver(session, nullptr);
    return session;
}

// A GET of `path` on the loopback port. A redirect is an answer like any other that is not the
// expected one, never followed away from the endpoint.
SoupMessage* loopbackRequest(int port, std::string_view path) {
    const std::string address = "http://127.0.0.1:" + std::to_string(port) + std::string(path);
    SoupMessage* message = soup_message_new("GET", address.c_str());
    if (message != nullptr) soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
    return message;
}

// One exchange with the endpoint, run on the private context until it has its answer or its
// deadline passes. At the deadline the pending operation is cancelled, and run() returns only once
// it has been called back, so no callback outlives the exchange.
class Exchange {
public:
    Exchange() : cancellable_(g_cancellable_new()) {}
    ~Exchange() { g_object_unref(cancellable_); }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    GCancellable* cancellable() const { return cancellable_; }
    // Called before an asynchronous operation starts, and first thing in its callback.
    void started() { ++pending_; }
    void calledBack() { --pending_; }

    void succeed() { finished_ = true; }
    void fail(EndpointFailure failure) {
        finished_ = true;
        failure_ = failure;
    }
    // Fails for an error from GIO or libsoup: the deadline's cancellation, a connection that could
    // not be made or broke, or anything else, which the endpoint answered but not as it should.
    void fail(const GError* error) {
        if (timedOut_) fail(EndpointFailure::timedOut);
        else if (error != nullptr && error->domain == G_IO_ERROR) fail(EndpointFailure::refused);
        else fail(EndpointFailure::unreadable);
    }
    bool finished() const { return finished_; }

    // Nothing when the exchange succeeded.
    std::optional<EndpointFailure> run(GMainContext* context, Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        GSource* timer = g_timeout_source_new(static_cast<guint>(std::clamp<long long>(left, 0, G_MAXUINT)));
        g_source_set_callback(timer, onDeadline, this, nullptr);
        g_source_attach(timer, context);
        while (!finished_ && !(timedOut_ && pending_ == 0)) g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        if (!finished_) return EndpointFailure::timedOut;
        return failure_;
    }

private:
    static gboolean onDeadline(gpointer data) {
        auto* exchange = static_cast<Exchange*>(data);
        exchange->timedOut_ = true;
        g_cancellable_cancel(exchange->cancellable_);
        return G_SOURCE_REMOVE;
    }

    GCancellable* cancellable_;
    int pending_ = 0;
    bool finished_ = false;
    bool timedOut_ = false;
    std::optional<EndpointFailure> failure_;
};

// GET of a 200 answer's body, read in chunks so an endless answer is cut off at the limit.
class BodyRead : public Exchange {
public:
    BodyRead(SoupSession* session, SoupMessage* message, std::size_t longest)
        : session_(session), message_(message), longest_(longest) {}
    ~BodyRead() {
        if (stream_ == nullptr) return;
        // Closing a body that was not read to its end would first wait for the rest of it; the
        // session's connections are closed before, so that wait ends at once.
        soup_session_abort(session_);
        g_object_unref(stream_);
    }

    void start() {
        started();
        soup_session_send_async(session_, message_, G_PRIORITY_DEFAULT, cancellable(), onSent, this);
    }
    std::string takeBody() { return std::move(body_); }

private:
    static void onSent(GObject*, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<BodyRead*>(data);
        read->calledBack();
        g_autoptr(GError) error = nullptr;
        read->stream_ = soup_session_send_finish(read->session_, result, &error);
        if (read->stream_ == nullptr) return read->fail(error);
        if (soup_message_get_status(read->message_) != SOUP_STATUS_OK) return read->fail(EndpointFailure::unreadable);
        const goffset announced = soup_message_headers_get_content_length(soup_message_get_response_headers(read->message_));
        if (announced > 0 && static_cast<std::uint64_t>(announced) > read->longest_) {
            return read->fail(EndpointFailure::unreadable);
        }
        read->readMore();
    }

    void readMore() {
        started();
        g_input_stream_read_bytes_async(stream_, readChunk, G_PRIORITY_DEFAULT, cancellable(), onRead, this);
    }

    static void onRead(GObject*, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<BodyRead*>(data);
        read->calledBack();
        g_autoptr(GError) error = nullptr;
        g_autoptr(GBytes) bytes = g_input_stream_read_bytes_finish(read->stream_, result, &error);
        if (bytes == nullptr) return read->fail(error);
        gsize size = 0;
        const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        if (size == 0) return read->succeed();
        read->body_.append(chunk, size);
        if (read->body_.size() > read->longest_) return read->fail(EndpointFailure::unreadable);
        read->readMore();
    }

    SoupSession* session_;
    SoupMessage* message_;
    std::size_t longest_;
    GInputStream* stream_ = nullptr;
    std::string body_;
};

// One Runtime.evaluate call over the page's WebSocket, answered by the first message that carries
// its id.
class PageEvaluation : public Exchange {
public:
    PageEvaluation(SoupSession* session, SoupMessage* upgrade, std::string call)
        : session_(session), upgrade_(upgrade), call_(std::move(call)) {}
    ~PageEvaluation() {
        if (connection_ == nullptr) return;
        g_signal_handlers_disconnect_by_data(connection_, this);
        g_object_unref(connection_);
    }

    static constexpr int requestId = 1;

    void start() {
        started();
        soup_session_websocket_connect_async(session_, upgrade_, nullptr, nullptr, G_PRIORITY_DEFAULT, cancellable(),
                                             onConnected, this);
    }
    bool value() const { return value_; }

private:
    static void onConnected(GObject*, GAsyncResult* result, gpointer data) {
        auto* evaluation = static_cast<PageEvaluation*>(data);
        evaluation->calledBack();
        g_autoptr(GError) error = nullptr;
        evaluation->connection_ = soup_session_websocket_connect_finish(evaluation->session_, result, &error);
        if (evaluation->connection_ == nullptr) return evaluation->fail(error);
        SoupWebsocketConnection* connection = evaluation->connection_;
        soup_websocket_connection_set_max_incoming_payload_size(connection, longestWebSocketMessage);
        g_signal_connect(connection, "message", G_CALLBACK(onMessage), evaluation);
        g_signal_connect(connection, "error", G_CALLBACK(onError), evaluation);
        g_signal_connect(connection, "closing", G_CALLBACK(onClosed), evaluation);
        g_signal_connect(connection, "closed", G_CALLBACK(onClosed), evaluation);
        soup_websocket_connection_send_text(connection, evaluation->call_.c_str());
    }

    static void onMessage(SoupWebsocketConnection*, gint type, GBytes* message, gpointer data) {
        auto* evaluation = static_cast<PageEvaluation*>(data);
        if (evaluation->finished() || type != SOUP_WEBSOCKET_DATA_TEXT) return;
        gsize size = 0;
        const auto* text = static_cast<const char*>(g_bytes_get_data(message, &size));
        const std::string_view answer(text, size);
        if (const auto value = evaluatedBoolean(answer, requestId)) {
            evaluation->value_ = *value;
            return evaluation->succeed();
        }
        // Our call failed or gave no boolean; anything else is an event or another answer.
        const auto parsed = nlohmann::json::parse(answer, nullptr, false);
        if (parsed.is_object() && parsed.contains("id")) evaluation->fail(EndpointFailure::unreadable);
    }

    // A message too long or a broken frame.
    static void onError(SoupWebsocketConnection*, GError*, gpointer data) {
        auto* evaluation = static_cast<PageEvaluation*>(data);
        if (!evaluation->finished()) evaluation->fail(EndpointFailure::unreadable);
    }

    // The endpoint ended the session, with a close frame or without.
    static void onClosed(SoupWebsocketConnection*, gpointer data) {
        auto* evaluation = static_cast<PageEvaluation*>(data);
        if (!evaluation->finished()) evaluation->fail(EndpointFailure::refused);
    }

    SoupSession* session_;
    SoupMessage* upgrade_;
    std::string call_;
    SoupWebsocketConnection* connection_ = nullptr;
    bool value_ = false;
};

}  // namespace

EndpointAnswer<std::string> httpGet(int port, std::string_view path, Clock::time_point deadline, std::size_t longest) {
    PrivateContext context;
    g_autoptr(SoupSession) session = loopbackSession();
    g_autoptr(SoupMessage) message = loopbackRequest(port, path);
    if (message == nullptr) return EndpointFailure::unreadable;
    soup_message_headers_replace(soup_message_get_request_headers(message), "Accept", "application/json");
    BodyRead read(session, message, longest);
    read.start();
    if (const auto failure = read.run(context.get(), deadline)) return *failure;
    return read.takeBody();
}

EndpointAnswer<bool> evaluateBooleanInPage(int port, std::string_view pageId, std::string_view expression,
                                           Clock::time_point deadline) {
    PrivateContext context;
    g_autoptr(SoupSession) session = loopbackSession();
    g_autoptr(SoupMessage) upgrade = loopbackRequest(port, "/devtools/page/" + std::string(pageId));
    if (upgrade == nullptr) return EndpointFailure::unreadable;
    const nlohmann::json call{{"id", PageEvaluation::requestId},
                              {"method", "Runtime.evaluate"},
                              {"params", {{"expression", expression}, {"returnByValue", true}}}};
    PageEvaluation evaluation(session, upgrade, call.dump());
    evaluation.start();
    if (const auto failure = evaluation.run(context.get(), deadline)) return *failure;
    return evaluation.value();
}

}  // namespace capture
