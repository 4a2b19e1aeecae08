#pragma once

#include <libsoup/soup.h>

#include "devservice/Service.h"
#include "platform/glib/GObjectPtr.h"

namespace devservice {

// Puts a Service behind a libsoup server on 127.0.0.1. It turns libsoup messages into Requests and
// Responses, caps request bodies before they are buffered (Service::bodyLimit), pauses a message
// whose answer comes later, and disconnects clients that stay silent too long.
//
// Connections are accepted here rather than by libsoup's own listener, so that each socket gets its
// time limit before the first byte is read, and every connection carries exactly one request.
class SoupFrontEnd {
public:
    SoupFrontEnd(Service& service, int clientTimeoutSeconds);
    ~SoupFrontEnd();
    SoupFrontEnd(const SoupFrontEnd&) = delete;
    SoupFrontEnd& operator=(const SoupFrontEnd&) = delete;

    // Listens on 127.0.0.1 and answers the bound port (port 0 picks a free one).
    // Throws std::runtime_error when it cannot listen.
    int listen(int port);

    // Closes the listening socket and every client connection.
    void stop();

private:
    static void onEarlyRequest(SoupServer* server, SoupServerMessage* msg, const char* path, GHashTable* query,
                               gpointer data);
    static void onRequest(SoupServer* server, SoupServerMessage* msg, const char* path, GHashTable* query,
                          gpointer data);
    static gboolean onIncoming(GSocketService* service, GSocketConnection* connection, GObject* source,
                               gpointer data);
    static void onRequestDone(SoupServer* server, SoupServerMessage* msg, gpointer data);

    Service& service_;
    int clientTimeoutSeconds_;
    platform::GObjectPtr<SoupServer> server_;
    platform::GObjectPtr<GSocketService> listener_;
};

}  // namespace devservice
