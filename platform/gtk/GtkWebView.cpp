#include "platform/gtk/GtkWebView.h"

#include <libsoup/soup.h>

#include <memory>

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

WebKitWebsiteDataManager* dataManager(const WebViewOptions& options) {
    if (options.ephemeralWebData) return webkit_website_data_manager_new_ephemeral();
    return webkit_website_data_manager_new("base-data-directory", options.dataDirectory.c_str(),
                                           "base-cache-directory", options.cacheDirectory.c_str(), nullptr);
}

}  // namespace

GtkWebView::GtkWebView(const WebViewOptions& options, WebViewDelegate& delegate)
    : delegate_(delegate), cancellable_(g_cancellable_new()) {
    WebKitWebsiteDataManager* manager = dataManager(options);
    cookies_ = WEBKIT_COOKIE_MANAGER(g_object_ref(webkit_website_data_manager_get_cookie_manager(manager)));
    if (!options.ephemeralWebData) {
        // Without this WebKit keeps cookies in memory only and the user is signed out at every start.
        const std::string cookieFile = options.dataDirectory + "/cookies.sqlite";
        webkit_cookie_manager_set_persistent_storage(cookies_, cookieFile.c_str(),
                                                     WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    }
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);

    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    const std::string userAgent =
        std::string(webkit_settings_get_user_agent(settings)) + " " + options.userAgentApplicationName;
    webkit_settings_set_user_agent(settings, userAgent.c_str());

    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings", settings, nullptr));
    g_object_ref_sink(view_);
    g_object_unref(settings);
    g_object_unref(context);

    g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view_, "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(onLoadFailed), this);
}

GtkWebView::~GtkWebView() {
    g_cancellable_cancel(cancellable_);
    g_signal_handlers_disconnect_by_data(view_, this);
    g_object_unref(cancellable_);
    g_object_unref(cookies_);
    g_object_unref(view_);
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
            const bool canShow =
                webkit_response_policy_decision_is_mime_type_supported(WEBKIT_RESPONSE_POLICY_DECISION(decision));
            apply(decision, delegate.decideResponse(canShow));
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
        case WEBKIT_LOAD_STARTED: webView->currentLoadFailed_ = false; break;
        case WEBKIT_LOAD_COMMITTED: webView->loadTimeout_.cancel(); break;
        case WEBKIT_LOAD_FINISHED:
            webView->loadTimeout_.cancel();
            if (!webView->currentLoadFailed_) webView->delegate_.loadFinished();
            break;
        default: break;
    }
}

gboolean GtkWebView::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self) {
    static_cast<GtkWebView*>(self)->currentLoadFailed_ = true;
    return FALSE;  // the engine shows its own error page
}

void GtkWebView::load(const std::string& url, double timeoutSeconds) {
    webkit_web_view_load_uri(view_, url.c_str());
    // WebKitGTK has no per-request time-out: a load still waiting for its response is stopped here.
    // The timer is a member, so it cannot outlive this object; it stops itself after one firing.
    WebKitWebView* view = view_;
    loadTimeout_ = repeatEvery(timeoutSeconds, [this, view] {
        loadTimeout_.cancel();
        if (webkit_web_view_is_loading(view)) webkit_web_view_stop_loading(view);
    });
}

void GtkWebView::reload() { webkit_web_view_reload(view_); }
bool GtkWebView::canGoBack() const { return webkit_web_view_can_go_back(view_); }
bool GtkWebView::canGoForward() const { return webkit_web_view_can_go_forward(view_); }
void GtkWebView::goBack() { webkit_web_view_go_back(view_); }
void GtkWebView::goForward() { webkit_web_view_go_forward(view_); }
double GtkWebView::zoom() const { return webkit_web_view_get_zoom_level(view_); }
void GtkWebView::setZoom(double factor) { webkit_web_view_set_zoom_level(view_, factor); }

std::string GtkWebView::currentURL() const {
    const char* uri = webkit_web_view_get_uri(view_);
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
    webkit_web_view_get_snapshot(view_, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, cancellable_,
                                 finished, new Done(std::move(done)));
}

void GtkWebView::setCookie(const Cookie& cookie, std::function<void(bool)> done) {
    using Done = std::function<void(bool)>;
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
    webkit_cookie_manager_add_cookie(cookies_, soupCookie, cancellable_, finished, new Done(std::move(done)));
    soup_cookie_free(soupCookie);
}

}  // namespace platform::gtk
