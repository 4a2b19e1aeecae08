#pragma once

#include <chrono>
#include <cstddef>
#include <set>

#include <libsoup/soup.h>

#include "devservice/Service.h"
#include "platform/glib/GObjectPtr.h"

namespace devservice {

// Title lookups with a libsoup client session, asynchronous on the main loop. Only http and https
// addresses are fetched, redirects are followed by hand (so each hop's scheme is checked), the body
// read stops at a size cap or as soon as a complete <title> element has arrived, and each lookup has
// an overall time limit. Any failure answers "". Proxies are not used: the service talks to the
// addresses it is given directly.
class SoupTitleFetcher final : public TitleFetcher {
public:
    struct Limits {
        std::chrono::seconds timeout{5};
        std::size_t maxBytes = 2 * 1024 * 1024;
        int maxRedirects = 3;
    };

    explicit SoupTitleFetcher(Limits limits);
    ~SoupTitleFetcher() override;
    SoupTitleFetcher(const SoupTitleFetcher&) = delete;
    SoupTitleFetcher& operator=(const SoupTitleFetcher&) = delete;

    void fetchTitle(const std::string& url, std::function<void(std::string)> done) override;

    // Cancels the lookups in flight and runs the main context until each has answered "" (at most
    // a second). Called before the server goes away, so every paused request gets its answer.
    void cancelAll();

private:
    struct Job;

    void request(Job* job, GUri* uri);
    void readMore(Job* job);
    void finish(Job* job, std::string title);
    static void onSent(GObject* source, GAsyncResult* result, gpointer data);
    static void onRead(GObject* source, GAsyncResult* result, gpointer data);
    static gboolean onDeadline(gpointer data);

    Limits limits_;
    platform::GObjectPtr<SoupSession> session_;
    std::set<Job*> jobs_;
};

}  // namespace devservice
