#pragma once

#include <webkit2/webkit2.h>

#include <map>

#include "platform/WebView.h"
#include "platform/glib/GObjectPtr.h"

namespace platform::gtk {

// Hands a web view's requests for the desktop to its delegate: downloads (destination and
// outcome), file inputs and script dialogs. WebKit's own in-view dialogs and choosers are never
// used. Disconnects itself from everything when destroyed; answers still pending then go to the
// engine when the delegate calls them, or as "nothing" when it drops them.
class PageRequests {
public:
    PageRequests(WebKitWebView* view, WebViewDelegate& delegate);
    ~PageRequests();
    PageRequests(const PageRequests&) = delete;
    PageRequests& operator=(const PageRequests&) = delete;

private:
    static void onDownloadStarted(WebKitWebContext*, WebKitDownload*, gpointer self);
    static gboolean onDecideDestination(WebKitDownload*, gchar* suggestedFilename, gpointer self);
    static void onDownloadFailed(WebKitDownload*, GError*, gpointer self);
    static void onDownloadFinished(WebKitDownload*, gpointer self);
    static gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest*, gpointer self);
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);

    void forget(WebKitDownload* download);

    // A download in progress, with whether it has failed (WebKit ends a failed download with
    // "finished" as well).
    struct Download {
        GObjectPtr<WebKitDownload> held;
        bool failed = false;
    };

    const GObjectPtr<WebKitWebView> view_;
    const GObjectPtr<WebKitWebContext> context_;
    WebViewDelegate& delegate_;
    std::map<WebKitDownload*, Download> downloads_;
};

}  // namespace platform::gtk
