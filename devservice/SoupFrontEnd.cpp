#include "devservice/SoupFrontEnd.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace devservice {
namespace {

constexpr const char* bodyKey = "tolvar-request-body";
// Set on a connection's socket once its request has arrived whole.
constexpr const char* requestReadKey = "tolvar-request-read";

// The request body as it arrives, kept only up to the path's limit. libsoup's own accumulation
// is switched off, so an oversized body is read and dropped, never held whole.
struct BodyCollector {
    std::string path;
    std::size_t limit = 0;
    std::string bytes;
    bool tooLarge = false;
};

void applyResponse(SoupServerMessage* msg, Response response) {
    soup_server_message_set_status(msg, static_cast<guint>(response.status), nullptr);
    auto* headers = soup_server_message_get_response_headers(msg);
    for (const auto& [name, value] : response.headers) soup_message_headers_append(headers, name.c_str(), value.c_str());
    // One request per connection (see SoupFrontEnd); say so, so that no client reuses it.
    soup_message_headers_replace(headers, "Connection", "close");
    auto* body = soup_server_message_get_response_body(msg);
    soup_message_body_truncate(body);
    if (response.contentType.empty()) return;
    soup_message_headers_replace(headers, "Content-Type", response.contentType.c_str());
    if (response.body.empty()) return;
    auto* owned = new std::string(std::move(response.body));
    GBytes* bytes = g_bytes_new_with_free_func(
        owned->data(), owned->size(), [](gpointer p) { delete static_cast<std::string*>(p); }, owned);
    soup_message_body_append_bytes(body, bytes);
    g_bytes_unref(bytes);
}

void refuseBody(SoupServerMessage* msg, const std::string& path) {
    applyResponse(msg, Service::bodyTooLarge(path));
}

void onChunk(SoupServerMessage* msg, GBytes* chunk, gpointer data) {
    auto* collector = static_cast<BodyCollector*>(data);
    if (collector->tooLarge) return;
    const auto size = g_bytes_get_size(chunk);
    if (collector->bytes.size() + size > collector->limit) {
        collector->tooLarge = true;
        collector->bytes.clear();
        collector->bytes.shrink_to_fit();
        if (soup_server_message_get_status(msg) == 0) refuseBody(msg, collector->path);
        return;
    }
    collector->bytes.append(static_cast<const char*>(g_bytes_get_data(chunk, nullptr)), size);
}

// The state of one request between handling and answering. A message can end before its answer
// is ready (the client hung up, or the service is stopping); it is then left alone.
struct Pending {
    explicit Pending(SoupServerMessage* m) : held(platform::sharedGObject(m)), msg(m) {
        g_signal_connect(msg, "finished", G_CALLBACK(onFinished), this);
    }
    ~Pending() { g_signal_handlers_disconnect_by_data(msg, this); }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    static void onFinished(SoupServerMessage*, gpointer data) { static_cast<Pending*>(data)->finished = true; }

    const platform::GObjectPtr<SoupServerMessage> held;
    SoupServerMessage* const msg;
    bool inHandler = true;
    bool answered = false;
    bool finished = false;
};

// Closes a connection whose request has not arrived whole by the deadline. The socket's own
// time-out applies to each read, so a client sending a byte now and then would otherwise keep
// its connection for ever. The connection is held weakly: one that has ended is left alone.
void closeIfRequestUnread(GSocketConnection* connection, int seconds) {
    auto* weak = g_new0(GWeakRef, 1);
    g_weak_ref_init(weak, connection);
    g_timeout_add_seconds_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(seconds),
        [](gpointer data) -> gboolean {
            const platform::GObjectPtr<GSocketConnection> held(
                static_cast<GSocketConnection*>(g_weak_ref_get(static_cast<GWeakRef*>(data))));
            if (!held) return G_SOURCE_REMOVE;
            GSocket* socket = g_socket_connection_get_socket(held.get());
            // Shutting the socket down makes libsoup's pending read fail, and it drops the connection.
            if (!g_object_get_data(G_OBJECT(socket), requestReadKey)) g_socket_shutdown(socket, TRUE, TRUE, nullptr);
            return G_SOURCE_REMOVE;
        },
        weak,
        [](gpointer data) {
            g_weak_ref_clear(static_cast<GWeakRef*>(data));
            g_free(data);
        });
}

}  // namespace

SoupFrontEnd::SoupFrontEnd(Service& service, int clientTimeoutSeconds)
    : service_(service),
      clientTimeoutSeconds_(clientTimeoutSeconds),
      server_(SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "server-header", "tolvar-devservice ", nullptr))),
      listener_(g_socket_service_new()) {
    // Early and normal handler on the same (default) path, so both run for every request.
    soup_server_add_early_handler(server_.get(), nullptr, &SoupFrontEnd::onEarlyRequest, this, nullptr);
    soup_server_add_handler(server_.get(), nullptr, &SoupFrontEnd::onRequest, this, nullptr);
    g_signal_connect(server_.get(), "request-finished", G_CALLBACK(&SoupFrontEnd::onRequestDone), this);
    g_signal_connect(server_.get(), "request-aborted", G_CALLBACK(&SoupFrontEnd::onRequestDone), this);
    g_signal_connect(listener_.get(), "incoming", G_CALLBACK(&SoupFrontEnd::onIncoming), this);
}

SoupFrontEnd::~SoupFrontEnd() {
    stop();
    g_signal_handlers_disconnect_by_data(listener_.get(), this);
    g_signal_handlers_disconnect_by_data(server_.get(), this);
}

int SoupFrontEnd::listen(int port) {
    const platform::GObjectPtr<GInetAddress> loopback(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    const platform::GObjectPtr<GSocketAddress> address(
        g_inet_socket_address_new(loopback.get(), static_cast<guint16>(port)));
    GSocketAddress* bound = nullptr;
    GError* error = nullptr;
    const gboolean ok =
        g_socket_listener_add_address(G_SOCKET_LISTENER(listener_.get()), address.get(), G_SOCKET_TYPE_STREAM,
                                      G_SOCKET_PROTOCOL_TCP, nullptr, &bound, &error);
    const platform::GObjectPtr<GSocketAddress> boundAddress(bound);
    if (!ok) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + message);
    }
    const int boundPort = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(boundAddress.get()));
    g_socket_service_start(listener_.get());
    return boundPort;
}

void SoupFrontEnd::stop() {
    g_socket_service_stop(listener_.get());
    g_socket_listener_close(G_SOCKET_LISTENER(listener_.get()));
    soup_server_disconnect(server_.get());
}

gboolean SoupFrontEnd::onIncoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer data) {
    auto* self = static_cast<SoupFrontEnd*>(data);
    // With a timeout on the socket, a read or write that waits longer fails and libsoup drops the
    // connection: a client that connects and stays silent, or sends half a request and stalls,
    // cannot hold it for ever.
    g_socket_set_timeout(g_socket_connection_get_socket(connection), static_cast<guint>(self->clientTimeoutSeconds_));
    const platform::GObjectPtr<GSocketAddress> local(g_socket_connection_get_local_address(connection, nullptr));
    const platform::GObjectPtr<GSocketAddress> remote(g_socket_connection_get_remote_address(connection, nullptr));
    closeIfRequestUnread(connection, self->clientTimeoutSeconds_);
    soup_server_accept_iostream(self->server_.get(), G_IO_STREAM(connection), local.get(), remote.get(), nullptr);
    return TRUE;
}

void SoupFrontEnd::onEarlyRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer) {
    const std::string requestPath = path ? path : "/";
    const auto limit = Service::bodyLimit(requestPath);
    soup_message_body_set_accumulate(soup_server_message_get_request_body(msg), FALSE);

    auto* headers = soup_server_message_get_request_headers(msg);
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        soup_message_headers_get_content_length(headers) > static_cast<goffset>(limit)) {
        refuseBody(msg, requestPath);
        return;
    }
    auto* collector = new BodyCollector{requestPath, limit, {}, false};
    g_object_set_data_full(G_OBJECT(msg), bodyKey, collector,
                           [](gpointer p) { delete static_cast<BodyCollector*>(p); });
    g_signal_connect(msg, "got-chunk", G_CALLBACK(onChunk), collector);
}

void SoupFrontEnd::onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer data) {
    auto* self = static_cast<SoupFrontEnd*>(data);
    auto* collector = static_cast<BodyCollector*>(g_object_get_data(G_OBJECT(msg), bodyKey));
    const std::string requestPath = path ? path : "/";
    if (GSocket* socket = soup_server_message_get_socket(msg)) g_object_set_data(G_OBJECT(socket), requestReadKey, GINT_TO_POINTER(1));
    if (collector && collector->tooLarge) {
        refuseBody(msg, requestPath);
        return;
    }

    Request request;
    request.method = soup_server_message_get_method(msg);
    request.path = requestPath;
    if (const char* query = g_uri_get_query(soup_server_message_get_uri(msg))) request.query = query;
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(msg));
    const char* name = nullptr;
    const char* value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value)) request.headers.emplace_back(name, value);
    if (collector) request.body = std::move(collector->bytes);

    auto pending = std::make_shared<Pending>(msg);
    try {
        self->service_.handle(request, [pending](Response response) {
            if (pending->answered || pending->finished) return;
            pending->answered = true;
            applyResponse(pending->msg, std::move(response));
            if (!pending->inHandler) soup_server_message_unpause(pending->msg);
        });
    } catch (const std::exception&) {
        if (!pending->answered) {
            pending->answered = true;
            applyResponse(msg, Service::internalError(requestPath));
        }
    }
    pending->inHandler = false;
    if (!pending->answered && !pending->finished) soup_server_message_pause(msg);
}

void SoupFrontEnd::onRequestDone(SoupServer*, SoupServerMessage* msg, gpointer) {
    const char* method = soup_server_message_get_method(msg);
    GUri* uri = soup_server_message_get_uri(msg);
    std::string path = uri && g_uri_get_path(uri) ? g_uri_get_path(uri) : "-";
    // The path is decoded and may hold anything; keep the log one line per request.
    for (auto& c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    if (path.size() > 200) path = path.substr(0, 200) + "...";
    std::fprintf(stderr, "%s %s %u\n", method ? method : "-", path.c_str(), soup_server_message_get_status(msg));
}

}  // namespace devservice
