#pragma once

#include <webkit2/webkit2.h>

#include <cstdint>
#include <map>
#include <memory>

#include "platform/MainLoop.h"
#include "core/Io.h"
#include "platform/WebView.h"
#include "platform/glib/GObjectPtr.h"
#include "platform/gtk/GtkPageRequests.h"

namespace platform::gtk {

struct WebViewOptions {
    std::string userAgentApplicationName;
    bool ephemeralWebData = false;
    std::string dataDirectory;
    std::string cacheDirectory;
    // Runs the page's web process in WebKit's bubblewrap sandbox.
    bool sandboxWebContent = true;
};

// The main web view: a WebKitWebView whose policy questions go to a WebViewDelegate.
class GtkWebView final : public WebView {
public:
    GtkWebView(const WebViewOptions& options, WebViewDelegate& delegate);
    ~GtkWebView() override;
    GtkWebView(const GtkWebView&) = delete;
    GtkWebView& operator=(const GtkWebView&) = delete;

    GtkWidget* widget() const { return GTK_WIDGET(view_.get()); }
    WebKitWebView* view() const { return view_.get(); }

    void load(const std::string& url, double timeoutSeconds) override;
    void reload() override;
    bool canGoBack() const override;
    bool canGoForward() const override;
    void goBack() override;
    void goForward() override;
    double zoom() const override;
    void setZoom(double factor) override;
    std::string currentURL() const override;
    void snapshotPNG(std::function<void(std::optional<std::string>)> done) override;
    void setCookie(const Cookie& cookie, std::function<void(bool stored)> done) override;
    void callAsyncJavaScript(const std::string& body, const nlohmann::json& arguments, double timeLimitSeconds,
                             std::function<void(ScriptResult)> done) override;
    void clickAt(double x, double y) override;
    void showApplicationPage(const std::string& html, const std::string& forURL) override;
    void suspendPage() override;

private:
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
    static gboolean onLoadFailedWithTLSErrors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags,
                                              gpointer self);
    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
    // WebKitGTK does not announce the end of its network process: this process's child of that
    // name is watched through a pidfd, found again whenever the engine may have started a new one.
    void watchNetworkProcess();
    void stopWatchingNetworkProcess();

    // Page scripts still waiting for their answer, by number. Shared with their completions, which
    // may arrive after this object is gone. Each has the timer that ends it at its time limit.
    struct PendingScript {
        std::function<void(ScriptResult)> done;
        Timer limit;
    };
    using PendingScripts = std::map<std::uint64_t, PendingScript>;

    WebViewDelegate& delegate_;
    GObjectPtr<WebKitWebView> view_;
    GObjectPtr<WebKitCookieManager> cookies_;
    const GObjectPtr<GCancellable> cancellable_;
    Timer loadTimeout_;
    bool currentLoadFailed_ = false;
    bool loadTimedOut_ = false;  // the time-out stopped the current load
    // A page of our own waits to be loaded, or is the page loading or shown now.
    bool applicationPagePending_ = false;
    bool applicationPageLoading_ = false;
    Timer applicationPageLoad_;
    std::shared_ptr<PendingScripts> pendingScripts_ = std::make_shared<PendingScripts>();
    std::uint64_t nextScript_ = 0;
    int networkProcess_ = 0;
    core::UniqueFd networkProcessFd_;
    unsigned networkProcessWatch_ = 0;
    // Downloads, file inputs and script dialogs, answered by the delegate.
    std::unique_ptr<PageRequests> pageRequests_;
};

}  // namespace platform::gtk
