#include "platform/gtk/GtkWebView.h"

#include <glib-unix.h>
#include <libsoup/soup.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <sstream>

#include "platform/glib/GObjectPtr.h"
#include "platform/gtk/Png.h"

namespace platform::gtk {
namespace {

NavigationType navigationType(WebKitNavigationType type) {
    switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED: return NavigationType::linkActivated;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED: return NavigationType::formSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD: return NavigationType::backForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD: return NavigationType::reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED: return NavigationType::formResubmitted;
        default: return NavigationType::other;
    }
}

NavigationAction navigationAction(WebKitNavigationAction* action) {
    NavigationAction result;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (uri != nullptr && *uri != '\0') result.url = uri;
    result.type = navigationType(webkit_navigation_action_get_navigation_type(action));
    // WebKitGTK does not tell whether a link asked to be downloaded; links with a "download"
    // attribute are turned into downloads by the engine itself.
    result.shouldDownload = false;
    return result;
}

void apply(WebKitPolicyDecision* decision, NavigationDecision answer) {
    switch (answer) {
        case NavigationDecision::cancel: webkit_policy_decision_ignore(decision); break;
        case NavigationDecision::allow: webkit_policy_decision_use(decision); break;
        case NavigationDecision::download: webkit_policy_decision_download(decision); break;
    }
}

// The engine reports its network errors with the domain and code of the GLib error underneath,
// or with its own.
LoadError loadError(const GError* error, bool timedOut) {
    if (error == nullptr) return LoadError::other;
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) {
        return timedOut ? LoadError::timedOut : LoadError::cancelled;
    }
    if (g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
        g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_DESTINATION)) {
        return LoadError::becameDownload;
    }
    if (error->domain == G_RESOLVER_ERROR) return LoadError::cannotResolveHost;
    if (error->domain == G_TLS_ERROR) return LoadError::certificateRejected;
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
            case G_IO_ERROR_CONNECTION_REFUSED:
            case G_IO_ERROR_HOST_UNREACHABLE: return LoadError::cannotConnect;
            case G_IO_ERROR_NETWORK_UNREACHABLE: return LoadError::networkUnavailable;
            case G_IO_ERROR_TIMED_OUT: return LoadError::timedOut;
            case G_IO_ERROR_CONNECTION_CLOSED:
            case G_IO_ERROR_PARTIAL_INPUT: return LoadError::connectionLost;
            case G_IO_ERROR_CANCELLED: return timedOut ? LoadError::timedOut : LoadError::cancelled;
            default: break;
        }
    }
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_TRANSPORT)) return LoadError::connectionLost;
    return LoadError::other;
}

// What is wrong with a certificate, in words.
std::string certificateProblem(GTlsCertificateFlags flags) {
    std::string text;
    auto add = [&](GTlsCertificateFlags flag, const char* words) {
        if ((flags & flag) == 0) return;
        text += text.empty() ? "The certificate " : "; it ";
        text += words;
    };
    add(G_TLS_CERTIFICATE_UNKNOWN_CA, "is not signed by a known authority");
    add(G_TLS_CERTIFICATE_BAD_IDENTITY, "does not belong to this site");
    add(G_TLS_CERTIFICATE_NOT_ACTIVATED, "is not valid yet");
    add(G_TLS_CERTIFICATE_EXPIRED, "has expired");
    add(G_TLS_CERTIFICATE_REVOKED, "has been revoked");
    add(G_TLS_CERTIFICATE_INSECURE, "uses an insecure algorithm");
    return text.empty() ? "The certificate is not valid." : text + ".";
}

WebKitWebsiteDataManager* dataManager(const WebViewOptions& options) {
    if (options.ephemeralWebData) return webkit_website_data_manager_new_ephemeral();
    return webkit_website_data_manager_new("base-data-directory", options.dataDirectory.c_str(),
                                           "base-cache-directory", options.cacheDirectory.c_str(), nullptr);
}

GVariant* scriptArguments(const nlohmann::json& arguments) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    for (const auto& [name, value] : arguments.items()) {
        GVariant* converted = nullptr;
        if (value.is_string()) converted = g_variant_new_string(value.get_ref<const std::string&>().c_str());
        else if (value.is_boolean()) converted = g_variant_new_boolean(value.get<bool>());
        else if (value.is_number_integer()) converted = g_variant_new_int64(value.get<int64_t>());
        else if (value.is_number()) converted = g_variant_new_double(value.get<double>());
        if (converted != nullptr) g_variant_builder_add(&builder, "{sv}", name.c_str(), converted);
    }
    return g_variant_builder_end(&builder);
}

// A script's answer as JSON: texts stay texts; undefined and null become null; other values go
// through their JSON form.
nlohmann::json scriptValue(JSCValue* value) {
    if (value == nullptr || jsc_value_is_undefined(value) || jsc_value_is_null(value)) return nullptr;
    if (jsc_value_is_string(value)) {
        char* text = jsc_value_to_string(value);
        nlohmann::json result = text != nullptr ? text : "";
        g_free(text);
        return result;
    }
    char* json = jsc_value_to_json(value, 0);
    nlohmann::json result = json != nullptr ? nlohmann::json::parse(json, nullptr, false) : nlohmann::json();
    g_free(json);
    if (result.is_discarded()) {
        char* text = jsc_value_to_string(value);
        result = text != nullptr ? text : "";
        g_free(text);
    }
    return result;
}

// A child of this process running WebKit's network process (its name cut to 15 characters), or 0.
int networkProcessChild() {
    const std::string parent = std::to_string(getpid());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // "pid (comm) state ppid ...": the name may hold spaces, so it is read up to the last ')'.
        const auto open = line.find('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        if (line.substr(open + 1, close - open - 1) != "WebKitNetworkPr") continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state, ppid;
        rest >> state >> ppid;
        // An ended one that the engine has not reaped yet is still listed, as a zombie.
        if (ppid == parent && state != "Z") return std::stoi(name);
    }
    return 0;
}

}  // namespace

GtkWebView::GtkWebView(const WebViewOptions& options, WebViewDelegate& delegate)
    : delegate_(delegate), cancellable_(g_cancellable_new()) {
    const GObjectPtr<WebKitWebsiteDataManager> manager(dataManager(options));
    cookies_ = sharedGObject(webkit_website_data_manager_get_cookie_manager(manager.get()));
    if (!options.ephemeralWebData) {
        // Without this WebKit keeps cookies in memory only and the user is signed out at every start.
        const std::string cookieFile = options.dataDirectory + "/cookies.sqlite";
        webkit_cookie_manager_set_persistent_storage(cookies_.get(), cookieFile.c_str(),
                                                     WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    }
    const GObjectPtr<WebKitWebContext> context(webkit_web_context_new_with_website_data_manager(manager.get()));
    // Page content runs in its own namespaces under bubblewrap, with a seccomp filter; WebKit
    // grants it the few paths it needs (fonts, the display's socket).
    webkit_web_context_set_sandbox_enabled(context.get(), options.sandboxWebContent);

    const GObjectPtr<WebKitSettings> settings(webkit_settings_new());
    webkit_settings_set_javascript_can_open_windows_automatically(settings.get(), TRUE);
    const std::string userAgent =
        std::string(webkit_settings_get_user_agent(settings.get())) + " " + options.userAgentApplicationName;
    webkit_settings_set_user_agent(settings.get(), userAgent.c_str());

    view_.reset(WEBKIT_WEB_VIEW(g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context.get(),
                                                                "settings", settings.get(), nullptr))));

    g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view_.get(), "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view_.get(), "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view_.get(), "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view_.get(), "load-failed-with-tls-errors", G_CALLBACK(onLoadFailedWithTLSErrors), this);
    g_signal_connect(view_.get(), "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);
    pageRequests_ = std::make_unique<PageRequests>(view_.get(), delegate_);
}

GtkWebView::~GtkWebView() {
    stopWatchingNetworkProcess();
    g_cancellable_cancel(cancellable_.get());
    g_signal_handlers_disconnect_by_data(view_.get(), this);
}

gboolean GtkWebView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                    gpointer self) {
    auto& delegate = static_cast<GtkWebView*>(self)->delegate_;
    switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
            auto* action = webkit_navigation_policy_decision_get_navigation_action(
                WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            apply(decision, delegate.decideNavigation(navigationAction(action)));
            return TRUE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
            auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
            SoupMessageHeaders* headers =
                webkit_uri_response_get_http_headers(webkit_response_policy_decision_get_response(response));
            const char* disposition =
                headers != nullptr ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
            apply(decision, delegate.decideResponse(
                                {.canShowContentType = bool(webkit_response_policy_decision_is_mime_type_supported(response)),
                                 .contentDisposition = disposition != nullptr ? disposition : ""}));
            return TRUE;
        }
        default:
            // New-window requests go on to the "create" signal, which answers them.
            return FALSE;
    }
}

GtkWidget* GtkWebView::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    static_cast<GtkWebView*>(self)->delegate_.newWindowRequested(navigationAction(action));
    return nullptr;
}

void GtkWebView::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* webView = static_cast<GtkWebView*>(self);
    switch (event) {
        case WEBKIT_LOAD_STARTED:
            webView->currentLoadFailed_ = false;
            webView->applicationPageLoading_ = std::exchange(webView->applicationPagePending_, false);
            break;
        case WEBKIT_LOAD_COMMITTED:
            webView->loadTimeout_.cancel();
            webView->watchNetworkProcess();
            break;
        case WEBKIT_LOAD_FINISHED:
            webView->loadTimeout_.cancel();
            if (!webView->currentLoadFailed_ && !webView->applicationPageLoading_) webView->delegate_.loadFinished();
            break;
        default: break;
    }
}

// The engine's own error page is never shown: the delegate hears of the failure instead.
gboolean GtkWebView::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
    auto* webView = static_cast<GtkWebView*>(self);
    webView->currentLoadFailed_ = true;
    webView->loadTimeout_.cancel();
    const LoadError kind = loadError(error, std::exchange(webView->loadTimedOut_, false));
    std::string text = error != nullptr ? error->message : "";
    if (kind == LoadError::timedOut && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) {
        text = "The server did not answer within a minute.";
    }
    webView->delegate_.loadFailed(uri != nullptr ? uri : "", kind, text);
    return TRUE;
}

// A certificate the system does not trust is never accepted: the load fails.
gboolean GtkWebView::onLoadFailedWithTLSErrors(WebKitWebView*, gchar* uri, GTlsCertificate*,
                                               GTlsCertificateFlags errors, gpointer self) {
    auto* webView = static_cast<GtkWebView*>(self);
    webView->currentLoadFailed_ = true;
    webView->loadTimeout_.cancel();
    webView->delegate_.loadFailed(uri != nullptr ? uri : "", LoadError::certificateRejected,
                                  certificateProblem(errors));
    return TRUE;
}

void GtkWebView::onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
    auto* webView = static_cast<GtkWebView*>(self);
    const char* reasonText = reason == WEBKIT_WEB_PROCESS_CRASHED                    ? "crashed"
                             : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "exceeded-memory-limit"
                                                                                  : "terminated-by-api";
    // Scripts that were running in the process will never answer.
    auto pending = std::exchange(*webView->pendingScripts_, {});
    for (auto& [number, script] : pending) {
        script.done({.succeeded = false, .value = nullptr,
                     .error = std::string("the web process ended (") + reasonText + ")"});
    }
    // Only suspendPage() ends the process through the API: that is no failure to recover from.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
    webView->delegate_.webProcessEnded(reasonText);
}

void GtkWebView::watchNetworkProcess() {
    const int child = networkProcessChild();
    if (child == 0 || child == networkProcess_) return;
    stopWatchingNetworkProcess();
    const int fd = int(syscall(SYS_pidfd_open, child, 0));
    if (fd < 0) return;
    networkProcess_ = child;
    networkProcessFd_.reset(fd);
    // A pidfd becomes readable when the process ends; it does not reap it, which stays the engine's job.
    networkProcessWatch_ = g_unix_fd_add(
        fd, G_IO_IN,
        [](int, GIOCondition, gpointer self) -> gboolean {
            auto* webView = static_cast<GtkWebView*>(self);
            webView->networkProcessWatch_ = 0;
            webView->stopWatchingNetworkProcess();
            webView->delegate_.networkProcessEnded();
            return G_SOURCE_REMOVE;
        },
        this);
}

void GtkWebView::stopWatchingNetworkProcess() {
    if (networkProcessWatch_ != 0) g_source_remove(networkProcessWatch_);
    networkProcessWatch_ = 0;
    networkProcessFd_.reset();
    networkProcess_ = 0;
}

void GtkWebView::load(const std::string& url, double timeoutSeconds) {
    applicationPageLoad_.cancel();
    loadTimedOut_ = false;
    webkit_web_view_load_uri(view_.get(), url.c_str());
    // WebKitGTK has no per-request time-out: a load still waiting for its response is stopped here.
    // The timer is a member, so it cannot outlive this object.
    WebKitWebView* view = view_.get();
    loadTimeout_ = runOnceAfter(timeoutSeconds, [this, view] {
        if (!webkit_web_view_is_loading(view)) return;
        loadTimedOut_ = true;
        webkit_web_view_stop_loading(view);
    });
}

void GtkWebView::showApplicationPage(const std::string& html, const std::string& forURL) {
    // Loaded from the main loop, so a page shown while the engine reports a failure does not start
    // inside that report. The page's own address is `forURL` too, so its location.reload() asks the
    // network for that address again.
    applicationPageLoad_ = runOnceAfter(0, [this, html, forURL] {
        applicationPagePending_ = true;
        webkit_web_view_load_alternate_html(view_.get(), html.c_str(), forURL.c_str(), forURL.c_str());
    });
}

void GtkWebView::suspendPage() {
    applicationPageLoad_.cancel();
    loadTimeout_.cancel();
    applicationPagePending_ = false;
    applicationPageLoading_ = false;
    // WebKit's own call: the view keeps no page and no process afterwards (its address is empty),
    // and the next load starts a new process. Showing the view starts none.
    webkit_web_view_terminate_web_process(view_.get());
}

void GtkWebView::reload() { webkit_web_view_reload(view_.get()); }
bool GtkWebView::canGoBack() const { return webkit_web_view_can_go_back(view_.get()); }
bool GtkWebView::canGoForward() const { return webkit_web_view_can_go_forward(view_.get()); }
void GtkWebView::goBack() { webkit_web_view_go_back(view_.get()); }
void GtkWebView::goForward() { webkit_web_view_go_forward(view_.get()); }
double GtkWebView::zoom() const { return webkit_web_view_get_zoom_level(view_.get()); }
void GtkWebView::setZoom(double factor) { webkit_web_view_set_zoom_level(view_.get(), factor); }

std::string GtkWebView::currentURL() const {
    const char* uri = webkit_web_view_get_uri(view_.get());
    return uri != nullptr ? uri : "";
}

void GtkWebView::snapshotPNG(std::function<void(std::optional<std::string>)> done) {
    using Done = std::function<void(std::optional<std::string>)>;
    auto finished = [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> done(static_cast<Done*>(data));
        GError* error = nullptr;
        cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
        const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        g_clear_error(&error);
        if (cancelled) return;  // the web view is gone
        if (surface == nullptr) return (*done)(std::nullopt);
        auto png = encodePNG(surface);
        cairo_surface_destroy(surface);
        (*done)(png.empty() ? std::nullopt : std::optional(std::move(png)));
    };
    webkit_web_view_get_snapshot(view_.get(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, cancellable_.get(),
                                 finished, new Done(std::move(done)));
}

void GtkWebView::setCookie(const Cookie& cookie, std::function<void(bool)> done) {
    using Done = std::function<void(bool)>;
    // Planting a cookie starts the network process when there is none; it is watched from then on.
    done = [this, done = std::move(done)](bool stored) {
        watchNetworkProcess();
        done(stored);
    };
    SoupCookie* soupCookie =
        soup_cookie_new(cookie.name.c_str(), cookie.value.c_str(), cookie.domain.c_str(), cookie.path.c_str(), -1);
    if (soupCookie == nullptr) return done(false);
    soup_cookie_set_secure(soupCookie, cookie.secure);
    auto finished = [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> done(static_cast<Done*>(data));
        GError* error = nullptr;
        const bool stored = webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
        const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        g_clear_error(&error);
        if (!cancelled) (*done)(stored);
    };
    webkit_cookie_manager_add_cookie(cookies_.get(), soupCookie, cancellable_.get(), finished, new Done(std::move(done)));
    soup_cookie_free(soupCookie);
}

void GtkWebView::callAsyncJavaScript(const std::string& body, const nlohmann::json& arguments,
                                     double timeLimitSeconds, std::function<void(ScriptResult)> done) {
    // The completion is found by its number, so one already failed by the web process ending or by
    // its time limit is not called twice.
    struct Pending {
        std::shared_ptr<PendingScripts> scripts;
        std::uint64_t number;
    };
    auto finished = [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
        GError* error = nullptr;
        const GObjectPtr<JSCValue> value(
            webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error));
        const auto entry = pending->scripts->find(pending->number);
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) || entry == pending->scripts->end()) {
            g_clear_error(&error);
            return;  // the web view is gone, or the script already ended with its process
        }
        auto done = std::move(entry->second.done);
        pending->scripts->erase(entry);
        ScriptResult answer;
        if (error != nullptr) {
            answer.error = error->message;
            g_error_free(error);
        } else {
            answer.succeeded = true;
            answer.value = scriptValue(value.get());
        }
        done(std::move(answer));
    };
    const std::uint64_t number = nextScript_++;
    // The engine has no time limit of its own: the entry is taken out and failed here, and the
    // engine's later answer finds nothing. The timer goes with the entry.
    auto limit = runOnceAfter(timeLimitSeconds, [weakScripts = std::weak_ptr(pendingScripts_), number] {
        const auto scripts = weakScripts.lock();
        const auto entry = scripts ? scripts->find(number) : PendingScripts::iterator();
        if (!scripts || entry == scripts->end()) return;
        auto expired = std::move(entry->second.done);
        scripts->erase(entry);
        expired({.succeeded = false, .value = nullptr, .error = "the script timed out"});
    });
    pendingScripts_->emplace(number, PendingScript{std::move(done), std::move(limit)});
    webkit_web_view_call_async_javascript_function(view_.get(), body.c_str(), gssize(body.size()),
                                                   scriptArguments(arguments), nullptr, nullptr, cancellable_.get(),
                                                   finished, new Pending{pendingScripts_, number});
}

void GtkWebView::clickAt(double x, double y) {
    GtkWidget* widget = GTK_WIDGET(view_.get());
    GdkWindow* window = gtk_widget_get_window(widget);
    if (window == nullptr) return;
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(widget));
    GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
    // The page's CSS pixels are scaled by the zoom factor on screen.
    const double zoom = webkit_web_view_get_zoom_level(view_.get());
    // Event coordinates are relative to the GDK window the event is sent to, which is the parent's
    // when the view has none of its own.
    GtkAllocation allocation{};
    if (!gtk_widget_get_has_window(widget)) gtk_widget_get_allocation(widget, &allocation);
    int originX = 0;
    int originY = 0;
    gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &originX, &originY);
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->button.window = GDK_WINDOW(g_object_ref(window));
        event->button.send_event = FALSE;
        event->button.time = GDK_CURRENT_TIME;
        event->button.x = x * zoom + allocation.x;
        event->button.y = y * zoom + allocation.y;
        event->button.x_root = x * zoom + originX;
        event->button.y_root = y * zoom + originY;
        event->button.button = 1;
        if (type == GDK_BUTTON_RELEASE) event->button.state = GDK_BUTTON1_MASK;
        if (pointer != nullptr) gdk_event_set_device(event, pointer);
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
}

}  // namespace platform::gtk
