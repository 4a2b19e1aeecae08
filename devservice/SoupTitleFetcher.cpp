#include "devservice/SoupTitleFetcher.h"

#include <algorithm>
#include <memory>
#include <string>

#include "devservice/Text.h"
#include "devservice/Title.h"
#include "core/Text.h"

namespace devservice {

namespace {

struct UriUnref {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};

}  // namespace

// One lookup. It belongs to the asynchronous calls under way, and the last of them ends it through
// finish().
struct SoupTitleFetcher::Job {
    SoupTitleFetcher* owner = nullptr;
    std::function<void(std::string)> done;
    platform::GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    guint deadline = 0;
    int redirectsLeft = 0;
    std::unique_ptr<GUri, UriUnref> uri;
    platform::GObjectPtr<SoupMessage> message;
    platform::GObjectPtr<GInputStream> body;
    std::string contentType;
    std::string bytes;

    ~Job() {
        if (deadline) g_source_remove(deadline);
    }
};

namespace {

bool isWebScheme(GUri* uri) {
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    return scheme && host && *host &&
           (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
}

// Pages other than HTML have no <title> to find; a missing Content-Type is given the benefit of doubt.
bool mayHoldTitle(const std::string& contentType) {
    if (contentType.empty()) return true;
    const auto media = core::asciiLowercased(text::trimAscii(std::string_view(contentType).substr(0, contentType.find(';'))));
    return media == "text/html" || media == "application/xhtml+xml";
}

}  // namespace

SoupTitleFetcher::SoupTitleFetcher(Limits limits)
    : limits_(limits),
      session_(soup_session_new_with_options("timeout", static_cast<guint>(limits.timeout.count()), "idle-timeout",
                                             static_cast<guint>(limits.timeout.count()), "user-agent",
                                             "tolvar-devservice (title lookup)", nullptr)) {
    soup_session_set_proxy_resolver(session_.get(), nullptr);
}

SoupTitleFetcher::~SoupTitleFetcher() {
    cancelAll();
    soup_session_abort(session_.get());
}

void SoupTitleFetcher::cancelAll() {
    for (auto* job : jobs_) g_cancellable_cancel(job->cancellable.get());
    // Cancelled operations report back through the main context; let them.
    const gint64 giveUp = g_get_monotonic_time() + G_USEC_PER_SEC;
    while (!jobs_.empty() && g_get_monotonic_time() < giveUp) g_main_context_iteration(nullptr, FALSE);
}

void SoupTitleFetcher::fetchTitle(const std::string& url, std::function<void(std::string)> done) {
    auto owned = std::make_unique<Job>();
    Job* job = owned.release();  // finish() ends it
    job->owner = this;
    job->done = std::move(done);
    job->redirectsLeft = limits_.maxRedirects;
    jobs_.insert(job);
    job->deadline = g_timeout_add(static_cast<guint>(limits_.timeout.count() * 1000), &SoupTitleFetcher::onDeadline, job);

    GUri* uri = g_uri_parse(url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
    if (!uri) {
        finish(job, "");
        return;
    }
    request(job, uri);
}

void SoupTitleFetcher::request(Job* job, GUri* uri) {
    job->uri.reset(uri);
    if (!isWebScheme(uri)) {
        finish(job, "");
        return;
    }
    job->message.reset(soup_message_new_from_uri(SOUP_METHOD_GET, uri));
    if (!job->message) {
        finish(job, "");
        return;
    }
    soup_message_add_flags(job->message.get(), SOUP_MESSAGE_NO_REDIRECT);
    soup_message_headers_replace(soup_message_get_request_headers(job->message.get()), "Accept",
                                 "text/html,application/xhtml+xml;q=0.9,*/*;q=0.1");
    soup_session_send_async(session_.get(), job->message.get(), G_PRIORITY_DEFAULT, job->cancellable.get(),
                            &SoupTitleFetcher::onSent, job);
}

void SoupTitleFetcher::onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<Job*>(data);
    auto* self = job->owner;
    GError* error = nullptr;
    GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (!body) {
        g_clear_error(&error);
        self->finish(job, "");
        return;
    }
    job->body.reset(body);

    const guint status = soup_message_get_status(job->message.get());
    auto* headers = soup_message_get_response_headers(job->message.get());
    if (SOUP_STATUS_IS_REDIRECTION(status)) {
        const char* location = soup_message_headers_get_one(headers, "Location");
        if (!location || job->redirectsLeft <= 0) {
            self->finish(job, "");
            return;
        }
        --job->redirectsLeft;
        GUri* next =
            g_uri_parse_relative(job->uri.get(), location, static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
        job->body.reset();
        if (!next) {
            self->finish(job, "");
            return;
        }
        self->request(job, next);
        return;
    }
    if (!SOUP_STATUS_IS_SUCCESSFUL(status)) {
        self->finish(job, "");
        return;
    }
    const char* contentType = soup_message_headers_get_one(headers, "Content-Type");
    job->contentType = contentType ? contentType : "";
    if (!mayHoldTitle(job->contentType)) {
        self->finish(job, "");
        return;
    }
    self->readMore(job);
}

void SoupTitleFetcher::readMore(Job* job) {
    const auto room = limits_.maxBytes - job->bytes.size();
    g_input_stream_read_bytes_async(job->body.get(), std::min<std::size_t>(room, 64 * 1024), G_PRIORITY_DEFAULT,
                                    job->cancellable.get(), &SoupTitleFetcher::onRead, job);
}

void SoupTitleFetcher::onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<Job*>(data);
    auto* self = job->owner;
    GError* error = nullptr;
    GBytes* chunk = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (!chunk) {
        g_clear_error(&error);
        self->finish(job, "");
        return;
    }
    gsize size = 0;
    const auto* received = static_cast<const char*>(g_bytes_get_data(chunk, &size));
    if (size > 0) job->bytes.append(received, size);
    g_bytes_unref(chunk);

    const bool ended = size == 0 || job->bytes.size() >= self->limits_.maxBytes;
    if (title::rawTitleElement(job->bytes) || ended) {
        self->finish(job, title::titleOfDocument(job->bytes, job->contentType).value_or(""));
        return;
    }
    self->readMore(job);
}

gboolean SoupTitleFetcher::onDeadline(gpointer data) {
    auto* job = static_cast<Job*>(data);
    job->deadline = 0;
    // The operation in flight fails with "cancelled" and finishes the job.
    g_cancellable_cancel(job->cancellable.get());
    return G_SOURCE_REMOVE;
}

void SoupTitleFetcher::finish(Job* job, std::string title) {
    jobs_.erase(job);
    std::unique_ptr<Job> ending(job);
    auto done = std::move(ending->done);
    ending.reset();
    if (done) done(std::move(title));
}

}  // namespace devservice
