#include "platform/Http.h"

#include <fcntl.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

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
struct FeedRequest {
    SoupMessage* message = nullptr;
    GCancellable* cancellable = g_cancellable_new();
    GInputStream* stream = nullptr;
    guint timeoutSource = 0;
    bool timedOut = false;
    std::size_t largestBody = 0;
    HttpReply reply;
    std::string body;
    std::function<void(HttpReply)> done;

    ~FeedRequest() {
        if (timeoutSource != 0) g_source_remove(timeoutSource);
        if (stream != nullptr) g_object_unref(stream);
        if (message != nullptr) g_object_unref(message);
        g_object_unref(cancellable);
    }

    static void finish(FeedRequest* request) {
        auto done = std::move(request->done);
        auto reply = std::move(request->reply);
        delete request;
        done(std::move(reply));
    }

    void fail(GError* error, const char* fallback) {
        reply = HttpReply{};
        reply.error = timedOut ? std::string("The request timed out.") : describe(error, fallback);
    }

    static void readMore(FeedRequest* request) {
        g_input_stream_read_bytes_async(request->stream, 16384, G_PRIORITY_DEFAULT, request->cancellable, gotBytes,
                                        request);
    }

    static void gotBytes(GObject*, GAsyncResult* result, gpointer data) {
        auto* request = static_cast<FeedRequest*>(data);
        GError* error = nullptr;
        GBytes* bytes = g_input_stream_read_bytes_finish(request->stream, result, &error);
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
        request->stream = soup_session_send_finish(SOUP_SESSION(source), result, &error);
        if (request->stream == nullptr) {
            request->fail(error, "the request failed");
            g_clear_error(&error);
            finish(request);
            return;
        }
        request->reply.isHttp = true;
        request->reply.status = static_cast<int>(soup_message_get_status(request->message));
        readMore(request);
    }
};

void writeAll(int fd, const char* data, std::size_t size, bool& ok) {
    while (ok && size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void cancelInner(GCancellable*, gpointer inner) { g_cancellable_cancel(G_CANCELLABLE(inner)); }

}  // namespace

DownloadCancel::DownloadCancel() : cancellable_(g_cancellable_new()) {}
DownloadCancel::~DownloadCancel() { g_object_unref(cancellable_); }
void DownloadCancel::cancel() { g_cancellable_cancel(G_CANCELLABLE(cancellable_)); }
bool DownloadCancel::cancelled() const { return g_cancellable_is_cancelled(G_CANCELLABLE(cancellable_)); }
void* DownloadCancel::handle() const { return cancellable_; }

void httpGet(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
             double timeoutSeconds, std::size_t largestBody, std::function<void(HttpReply)> done) {
    auto* request = new FeedRequest;
    request->done = std::move(done);
    request->largestBody = largestBody;
    request->message = soup_message_new("GET", url.c_str());
    if (request->message == nullptr) {
        request->reply.error = "unsupported URL";
        // Answered on the main loop all the same, never from inside the call.
        g_idle_add_full(
            G_PRIORITY_DEFAULT, [](gpointer data) -> gboolean { FeedRequest::finish(static_cast<FeedRequest*>(data)); return G_SOURCE_REMOVE; },
            request, nullptr);
        return;
    }
    SoupMessageHeaders* requestHeaders = soup_message_get_request_headers(request->message);
    for (const auto& [name, value] : headers) soup_message_headers_replace(requestHeaders, name.c_str(), value.c_str());
    request->timeoutSource = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(std::llround(std::max(0.0, timeoutSeconds) * 1000)),
        [](gpointer data) -> gboolean {
            auto* request = static_cast<FeedRequest*>(data);
            request->timeoutSource = 0;
            request->timedOut = true;
            g_cancellable_cancel(request->cancellable);
            return G_SOURCE_REMOVE;
        },
        request, nullptr);
    soup_session_send_async(feedSession(), request->message, G_PRIORITY_DEFAULT, request->cancellable,
                            FeedRequest::sent, request);
}

DownloadOutcome downloadFile(const std::string& url, const std::filesystem::path& destination,
                             const DownloadLimits& limits, const DownloadWatch& watch) {
    DownloadOutcome outcome;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    SoupSession* session = soup_session_new();
    GCancellable* cancellable = g_cancellable_new();
    // A cancel from outside ends the download as the deadline does (at once when it came already).
    auto* outside = watch.cancel != nullptr ? G_CANCELLABLE(watch.cancel->handle()) : nullptr;
    const gulong outsideHandler =
        outside != nullptr ? g_cancellable_connect(outside, G_CALLBACK(cancelInner), cancellable, nullptr) : 0;

    // A watchdog ends the whole download at its deadline, however slowly the bytes trickle in.
    std::mutex mutex;
    std::condition_variable finished;
    bool over = false, expired = false;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(std::llround(limits.longestSeconds * 1000)));
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_until(lock, deadline, [&] { return over; })) {
            expired = true;
            g_cancellable_cancel(cancellable);
        }
    });
    auto timedOut = [&] {
        std::lock_guard lock(mutex);
        return expired;
    };
    const std::string tooSlow =
        "the download took longer than " + std::to_string(static_cast<long long>(limits.longestSeconds)) + " seconds";
    const std::string tooLarge = "the download is larger than " + std::to_string(limits.largestFile) + " bytes";
    auto stopped = [&](GError* error, const char* fallback) {
        if (outside != nullptr && g_cancellable_is_cancelled(outside)) return std::string(downloadCancelledText);
        return timedOut() ? tooSlow : describe(error, fallback);
    };

    SoupMessage* message = soup_message_new("GET", url.c_str());
    GInputStream* stream = nullptr;
    if (message == nullptr) {
        outcome.error = "unsupported URL";
    } else {
        GError* error = nullptr;
        stream = soup_session_send(session, message, cancellable, &error);
        if (stream == nullptr) {
            outcome.error = stopped(error, "the request failed");
            g_clear_error(&error);
        } else {
            outcome.isHttp = true;
            outcome.status = static_cast<int>(soup_message_get_status(message));
            const goffset announced =
                soup_message_headers_get_content_length(soup_message_get_response_headers(message));
            if (outcome.status == 200 && announced > 0 && static_cast<std::uint64_t>(announced) > limits.largestFile) {
                outcome.error = tooLarge;
            } else if (outcome.status == 200) {
                const int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
                if (fd < 0) {
                    outcome.error = std::string("cannot create the download file: ") + std::strerror(errno);
                } else {
                    std::uint64_t total = 0;
                    const auto expected = announced > 0 ? std::optional<std::uint64_t>(announced) : std::nullopt;
                    bool ok = true;
                    char buffer[65536];
                    while (true) {
                        const gssize got = g_input_stream_read(stream, buffer, sizeof buffer, cancellable, &error);
                        if (got < 0) {
                            outcome.error = stopped(error, "reading the download failed");
                            g_clear_error(&error);
                            break;
                        }
                        if (got == 0) break;
                        total += static_cast<std::uint64_t>(got);
                        if (total > limits.largestFile) {
                            outcome.error = tooLarge;
                            break;
                        }
                        writeAll(fd, buffer, static_cast<std::size_t>(got), ok);
                        if (!ok) {
                            outcome.error = std::string("cannot write the download file: ") + std::strerror(errno);
                            break;
                        }
                        if (watch.progress) watch.progress(total, expected);
                    }
                    ::close(fd);
                    if (outcome.error) ::unlink(destination.c_str());
                    else outcome.saved = true;
                }
            }
        }
    }
    {
        std::lock_guard lock(mutex);
        over = true;
    }
    finished.notify_all();
    watchdog.join();
    if (outsideHandler != 0) g_cancellable_disconnect(outside, outsideHandler);
    if (stream != nullptr) {
        g_input_stream_close(stream, nullptr, nullptr);
        g_object_unref(stream);
    }
    if (message != nullptr) g_object_unref(message);
    g_object_unref(cancellable);
    soup_session_abort(session);
    g_object_unref(session);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return outcome;
}

}  // namespace platform
