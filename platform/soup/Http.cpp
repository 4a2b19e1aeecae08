#include "platform/Http.h"

#include <fcntl.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "core/Io.h"
#include "platform/glib/GObjectPtr.h"

namespace platform {
namespace {

// The main loop's session for the feed, made on first use.
SoupSession* feedSession() {
    static SoupSession* session = soup_session_new();
    return session;
}

std::string describe(GError* error, const char* fallback) {
    return error != nullptr && error->message != nullptr ? std::string(error->message) : std::string(fallback);
}

// One feed request in flight: reads the body in chunks so an endless answer is cut off at the limit.
// It belongs to the asynchronous calls under way, and the last of them ends it through finish().
struct FeedRequest {
    GObjectPtr<SoupMessage> message;
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    GObjectPtr<GInputStream> stream;
    guint timeoutSource = 0;
    bool timedOut = false;
    std::size_t largestBody = 0;
    HttpReply reply;
    std::string body;
    std::function<void(HttpReply)> done;

    ~FeedRequest() {
        if (timeoutSource != 0) g_source_remove(timeoutSource);
    }

    static void finish(FeedRequest* request) {
        std::unique_ptr<FeedRequest> ending(request);
        auto done = std::move(ending->done);
        auto reply = std::move(ending->reply);
        ending.reset();
        done(std::move(reply));
    }

    void fail(GError* error, const char* fallback) {
        reply = HttpReply{};
        reply.error = timedOut ? std::string("The request timed out.") : describe(error, fallback);
    }

    static void readMore(FeedRequest* request) {
        g_input_stream_read_bytes_async(request->stream.get(), 16384, G_PRIORITY_DEFAULT, request->cancellable.get(),
                                        gotBytes, request);
    }

    static void gotBytes(GObject*, GAsyncResult* result, gpointer data) {
        auto* request = static_cast<FeedRequest*>(data);
        GError* error = nullptr;
        GBytes* bytes = g_input_stream_read_bytes_finish(request->stream.get(), result, &error);
        if (bytes == nullptr) {
            request->fail(error, "reading the answer failed");
            g_clear_error(&error);
            finish(request);
            return;
        }
        gsize size = 0;
        const auto* data_ = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        if (size == 0) {
            g_bytes_unref(bytes);
            request->reply.body = std::move(request->body);
            finish(request);
            return;
        }
        request->body.append(data_, size);
        g_bytes_unref(bytes);
        if (request->body.size() > request->largestBody) {
            request->reply = HttpReply{};
            request->reply.error = "The answer is larger than " + std::to_string(request->largestBody) + " bytes.";
            finish(request);
            return;
        }
        readMore(request);
    }

    static void sent(GObject* source, GAsyncResult* result, gpointer data) {
        auto* request = static_cast<FeedRequest*>(data);
        GError* error = nullptr;
        request->stream.reset(soup_session_send_finish(SOUP_SESSION(source), result, &error));
        if (!request->stream) {
            request->fail(error, "the request failed");
            g_clear_error(&error);
            finish(request);
            return;
        }
        request->reply.isHttp = true;
        request->reply.status = static_cast<int>(soup_message_get_status(request->message.get()));
        readMore(request);
    }
};

// The download's session, aborted before it goes so that no connection outlives the download.
struct AbortAndUnref {
    void operator()(SoupSession* session) const {
        soup_session_abort(session);
        GObjectUnref()(session);
    }
};

// The answer's body stream, closed before it goes.
struct CloseAndUnref {
    void operator()(GInputStream* stream) const {
        g_input_stream_close(stream, nullptr, nullptr);
        GObjectUnref()(stream);
    }
};

// A main context of the calling thread's own while it lives, for libsoup's blocking calls.
class PrivateMainContext {
public:
    PrivateMainContext() { g_main_context_push_thread_default(context_); }
    ~PrivateMainContext() {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    PrivateMainContext(const PrivateMainContext&) = delete;
    PrivateMainContext& operator=(const PrivateMainContext&) = delete;

private:
    GMainContext* context_ = g_main_context_new();
};

// Ends the whole download at its deadline, however slowly the bytes trickle in, by cancelling it.
// Stops watching when it goes.
class Watchdog {
public:
    Watchdog(GCancellable* cancellable, double seconds)
        : deadline_(std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)))),
          thread_([this, cancellable] { watch(cancellable); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            over_ = true;
        }
        finished_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    bool expired() const {
        std::lock_guard lock(mutex_);
        return expired_;
    }

private:
    void watch(GCancellable* cancellable) {
        std::unique_lock lock(mutex_);
        if (!finished_.wait_until(lock, deadline_, [this] { return over_; })) {
            expired_ = true;
            g_cancellable_cancel(cancellable);
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable finished_;
    bool over_ = false;
    bool expired_ = false;
    const std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;  // last, so that it starts with everything above in place
};

std::string tooSlow(const DownloadLimits& limits) {
    return "the download took longer than " + std::to_string(static_cast<long long>(limits.longestSeconds)) +
           " seconds";
}

std::string tooLarge(const DownloadLimits& limits) {
    return "the download is larger than " + std::to_string(limits.largestFile) + " bytes";
}

// The length the answer announces, when it announces one.
std::optional<std::uint64_t> announcedLength(SoupMessage* message) {
    const goffset announced = soup_message_headers_get_content_length(soup_message_get_response_headers(message));
    if (announced <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(announced);
}

// Why a download stopped early: cancelled from outside, past its deadline, or the error itself.
struct StopReason {
    const DownloadLimits& limits;
    const Watchdog& watchdog;
    GCancellable* outside;  // the caller's cancel, or null

    std::string operator()(GError* error, const char* fallback) const {
        if (outside != nullptr && g_cancellable_is_cancelled(outside)) return downloadCancelledText;
        return watchdog.expired() ? tooSlow(limits) : describe(error, fallback);
    }
};

// Copies the body from `stream` into `fd`; answers why it stopped short, when it did.
std::optional<std::string> copyBody(GInputStream* stream, int fd, const DownloadLimits& limits,
                                    GCancellable* cancellable, const StopReason& stopped,
                                    const DownloadWatch& watch, std::optional<std::uint64_t> expected) {
    std::uint64_t total = 0;
    char buffer[65536];
    while (true) {
        GError* error = nullptr;
        const gssize got = g_input_stream_read(stream, buffer, sizeof buffer, cancellable, &error);
        if (got < 0) {
            std::string failure = stopped(error, "reading the download failed");
            g_clear_error(&error);
            return failure;
        }
        if (got == 0) return std::nullopt;
        total += static_cast<std::uint64_t>(got);
        if (total > limits.largestFile) return tooLarge(limits);
        if (!core::writeAll(fd, std::string_view(buffer, static_cast<std::size_t>(got)))) {
            return std::string("cannot write the download file: ") + std::strerror(errno);
        }
        if (watch.progress) watch.progress(total, expected);
    }
}

// Saves the body into the new file `destination`, which is removed again when that fails; answers
// why it failed, when it did.
std::optional<std::string> saveBody(GInputStream* stream, const std::filesystem::path& destination,
                                    const DownloadLimits& limits, GCancellable* cancellable,
                                    const StopReason& stopped, const DownloadWatch& watch,
                                    std::optional<std::uint64_t> expected) {
    core::UniqueFd file(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid()) return std::string("cannot create the download file: ") + std::strerror(errno);
    auto failure = copyBody(stream, file.get(), limits, cancellable, stopped, watch, expected);
    file.reset();
    if (failure) ::unlink(destination.c_str());
    return failure;
}

void cancelInner(GCancellable*, gpointer inner) { g_cancellable_cancel(G_CANCELLABLE(inner)); }

// Passes a cancel from outside on to the download's own cancellable while it lives (at once when
// the cancel came already).
class CancelRelay {
public:
    CancelRelay(GCancellable* outside, GCancellable* inner)
        : outside_(outside),
          handler_(outside != nullptr ? g_cancellable_connect(outside, G_CALLBACK(cancelInner), inner, nullptr) : 0) {}
    ~CancelRelay() {
        if (handler_ != 0) g_cancellable_disconnect(outside_, handler_);
    }
    CancelRelay(const CancelRelay&) = delete;
    CancelRelay& operator=(const CancelRelay&) = delete;

private:
    GCancellable* outside_;
    gulong handler_;
};

}  // namespace

DownloadCancel::DownloadCancel() : cancellable_(g_cancellable_new()) {}
DownloadCancel::~DownloadCancel() { g_object_unref(cancellable_); }
void DownloadCancel::cancel() { g_cancellable_cancel(G_CANCELLABLE(cancellable_)); }
bool DownloadCancel::cancelled() const { return g_cancellable_is_cancelled(G_CANCELLABLE(cancellable_)); }
void* DownloadCancel::handle() const { return cancellable_; }

void httpGet(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
             double timeoutSeconds, std::size_t largestBody, std::function<void(HttpReply)> done) {
    auto owned = std::make_unique<FeedRequest>();
    owned->done = std::move(done);
    owned->largestBody = largestBody;
    owned->message.reset(soup_message_new("GET", url.c_str()));
    FeedRequest* request = owned.release();  // FeedRequest::finish ends it
    if (!request->message) {
        request->reply.error = "unsupported URL";
        // Answered on the main loop all the same, never from inside the call.
        g_idle_add_full(
            G_PRIORITY_DEFAULT, [](gpointer data) -> gboolean { FeedRequest::finish(static_cast<FeedRequest*>(data)); return G_SOURCE_REMOVE; },
            request, nullptr);
        return;
    }
    SoupMessageHeaders* requestHeaders = soup_message_get_request_headers(request->message.get());
    for (const auto& [name, value] : headers) soup_message_headers_replace(requestHeaders, name.c_str(), value.c_str());
    request->timeoutSource = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(std::llround(std::max(0.0, timeoutSeconds) * 1000)),
        [](gpointer data) -> gboolean {
            auto* request = static_cast<FeedRequest*>(data);
            request->timeoutSource = 0;
            request->timedOut = true;
            g_cancellable_cancel(request->cancellable.get());
            return G_SOURCE_REMOVE;
        },
        request, nullptr);
    soup_session_send_async(feedSession(), request->message.get(), G_PRIORITY_DEFAULT, request->cancellable.get(),
                            FeedRequest::sent, request);
}

DownloadOutcome downloadFile(const std::string& url, const std::filesystem::path& destination,
                             const DownloadLimits& limits, const DownloadWatch& watch) {
    // Declared in the reverse of the order they end in: the watchdog stops first, the context last.
    PrivateMainContext context;
    const std::unique_ptr<SoupSession, AbortAndUnref> session(soup_session_new());
    const GObjectPtr<GCancellable> cancellable(g_cancellable_new());
    const GObjectPtr<SoupMessage> message(soup_message_new("GET", url.c_str()));
    std::unique_ptr<GInputStream, CloseAndUnref> stream;
    const Watchdog watchdog(cancellable.get(), limits.longestSeconds);
    GCancellable* outside = watch.cancel != nullptr ? G_CANCELLABLE(watch.cancel->handle()) : nullptr;
    const CancelRelay relay(outside, cancellable.get());
    const StopReason stopped{limits, watchdog, outside};

    DownloadOutcome outcome;
    if (!message) {
        outcome.error = "unsupported URL";
        return outcome;
    }
    GError* error = nullptr;
    stream.reset(soup_session_send(session.get(), message.get(), cancellable.get(), &error));
    if (!stream) {
        outcome.error = stopped(error, "the request failed");
        g_clear_error(&error);
        return outcome;
    }
    outcome.isHttp = true;
    outcome.status = static_cast<int>(soup_message_get_status(message.get()));
    if (outcome.status != 200) return outcome;
    const auto expected = announcedLength(message.get());
    if (expected && *expected > limits.largestFile) {
        outcome.error = tooLarge(limits);
        return outcome;
    }
    outcome.error = saveBody(stream.get(), destination, limits, cancellable.get(), stopped, watch, expected);
    outcome.saved = !outcome.error;
    return outcome;
}

}  // namespace platform
