#include "platform/gtk/GtkPageRequests.h"

#include <libsoup/soup.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace platform::gtk {
namespace {

// WebKitGTK ends a download whose connection closed before the announced Content-Length as
// "finished". Such a file is incomplete: this answers why, or nothing when the download is whole
// or its length cannot be judged (no length announced, or a content encoding that changes it).
std::optional<std::string> cutOffReason(WebKitDownload* download) {
    WebKitURIResponse* response = webkit_download_get_response(download);
    if (response == nullptr) return std::nullopt;
    const guint64 announced = webkit_uri_response_get_content_length(response);
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    const char* encoding = headers != nullptr ? soup_message_headers_get_one(headers, "Content-Encoding") : nullptr;
    if (announced == 0 || (encoding != nullptr && g_ascii_strcasecmp(encoding, "identity") != 0)) return std::nullopt;
    const guint64 received = webkit_download_get_received_data_length(download);
    if (received >= announced) return std::nullopt;
    return "The download was cut off after " + std::to_string(received) + " of " + std::to_string(announced) +
           " bytes";
}

// One engine request waiting for the delegate's answer. The first answer goes to the engine; one
// dropped without an answer gets `fallback`, so the engine is never left waiting.
class Pending {
public:
    using Act = std::function<void(gpointer request)>;
    Pending(gpointer request, GDestroyNotify release, Act fallback)
        : request_(request), release_(release), fallback_(std::move(fallback)) {}
    ~Pending() {
        if (!answered_) fallback_(request_);
        release_(request_);
    }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    void answer(const Act& act) {
        if (answered_) return;
        answered_ = true;
        act(request_);
    }

private:
    gpointer request_;
    GDestroyNotify release_;
    Act fallback_;
    bool answered_ = false;
};

std::shared_ptr<Pending> pendingObject(gpointer object, Pending::Act fallback) {
    return std::make_shared<Pending>(g_object_ref(object), g_object_unref, std::move(fallback));
}

std::shared_ptr<Pending> pendingDialog(WebKitScriptDialog* dialog) {
    return std::make_shared<Pending>(
        webkit_script_dialog_ref(dialog), [](gpointer d) { webkit_script_dialog_unref(static_cast<WebKitScriptDialog*>(d)); },
        [](gpointer d) { webkit_script_dialog_close(static_cast<WebKitScriptDialog*>(d)); });
}

WebKitScriptDialog* scriptDialog(gpointer request) { return static_cast<WebKitScriptDialog*>(request); }

}  // namespace

PageRequests::PageRequests(WebKitWebView* view, WebViewDelegate& delegate)
    : view_(sharedGObject(view)),
      context_(sharedGObject(webkit_web_view_get_context(view))),
      delegate_(delegate) {
    g_signal_connect(context_.get(), "download-started", G_CALLBACK(onDownloadStarted), this);
    g_signal_connect(view_.get(), "run-file-chooser", G_CALLBACK(onRunFileChooser), this);
    g_signal_connect(view_.get(), "script-dialog", G_CALLBACK(onScriptDialog), this);
}

PageRequests::~PageRequests() {
    for (auto& [download, state] : downloads_) g_signal_handlers_disconnect_by_data(download, this);
    g_signal_handlers_disconnect_by_data(context_.get(), this);
    g_signal_handlers_disconnect_by_data(view_.get(), this);
}

void PageRequests::onDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer self) {
    auto* requests = static_cast<PageRequests*>(self);
    // The context is this view's own, but only the main web view's downloads are ours to answer.
    if (webkit_download_get_web_view(download) != requests->view_.get()) return;
    requests->downloads_.emplace(download, Download{sharedGObject(download)});
    requests->delegate_.downloadStarted();
    g_signal_connect(download, "decide-destination", G_CALLBACK(onDecideDestination), self);
    g_signal_connect(download, "failed", G_CALLBACK(onDownloadFailed), self);
    g_signal_connect(download, "finished", G_CALLBACK(onDownloadFinished), self);
}

gboolean PageRequests::onDecideDestination(WebKitDownload* download, gchar* suggestedFilename, gpointer self) {
    auto pending = pendingObject(download, [](gpointer d) { webkit_download_cancel(WEBKIT_DOWNLOAD(d)); });
    // Answered now or later: WebKit holds the transfer until a destination is set or it is cancelled.
    static_cast<PageRequests*>(self)->delegate_.decideDownloadDestination(
        suggestedFilename != nullptr ? suggestedFilename : "",
        [pending](std::optional<std::filesystem::path> destination) {
            pending->answer([&](gpointer d) {
                auto* download = WEBKIT_DOWNLOAD(d);
                if (!destination) return webkit_download_cancel(download);
                webkit_download_set_allow_overwrite(download, TRUE);
                webkit_download_set_destination(download, std::filesystem::absolute(*destination).c_str());
            });
        });
    return TRUE;
}

void PageRequests::onDownloadFailed(WebKitDownload* download, GError* error, gpointer self) {
    auto* requests = static_cast<PageRequests*>(self);
    auto found = requests->downloads_.find(download);
    if (found == requests->downloads_.end() || found->second.failed) return;
    found->second.failed = true;
    requests->delegate_.downloadFailed(error != nullptr && error->message != nullptr ? error->message : "");
}

void PageRequests::onDownloadFinished(WebKitDownload* download, gpointer self) {
    auto* requests = static_cast<PageRequests*>(self);
    auto found = requests->downloads_.find(download);
    if (found == requests->downloads_.end()) return;
    const bool failed = found->second.failed;
    const auto cutOff = failed ? std::nullopt : cutOffReason(download);
    if (cutOff) {
        // The incomplete file is not left where a finished download would be.
        if (const char* destination = webkit_download_get_destination(download)) {
            std::error_code ignored;
            std::filesystem::remove(destination, ignored);
        }
    }
    requests->forget(download);
    if (cutOff) requests->delegate_.downloadFailed(*cutOff);
    else if (!failed) requests->delegate_.downloadFinished();
}

void PageRequests::forget(WebKitDownload* download) {
    g_signal_handlers_disconnect_by_data(download, this);
    downloads_.erase(download);
}

gboolean PageRequests::onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
    auto pending = pendingObject(
        request, [](gpointer r) { webkit_file_chooser_request_cancel(WEBKIT_FILE_CHOOSER_REQUEST(r)); });
    // WebKitGTK honours no directory inputs ("webkitdirectory" is off in this engine), so a file
    // input never asks for folders here.
    const FileInputRequest parameters{
        .allowsMultipleSelection = webkit_file_chooser_request_get_select_multiple(request) != FALSE,
        .allowsDirectories = false,
    };
    static_cast<PageRequests*>(self)->delegate_.runFileChooser(
        parameters, [pending](std::optional<std::vector<std::filesystem::path>> files) {
            pending->answer([&](gpointer r) {
                auto* request = WEBKIT_FILE_CHOOSER_REQUEST(r);
                if (!files || files->empty()) return webkit_file_chooser_request_cancel(request);
                std::vector<std::string> paths;
                for (const auto& file : *files) paths.push_back(std::filesystem::absolute(file).string());
                std::vector<const gchar*> list;
                for (const auto& path : paths) list.push_back(path.c_str());
                list.push_back(nullptr);
                webkit_file_chooser_request_select_files(request, list.data());
            });
        });
    return TRUE;
}

gboolean PageRequests::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    auto& delegate = static_cast<PageRequests*>(self)->delegate_;
    const char* message = webkit_script_dialog_get_message(dialog);
    const std::string text = message != nullptr ? message : "";
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
        case WEBKIT_SCRIPT_DIALOG_ALERT: {
            auto pending = pendingDialog(dialog);
            delegate.runAlert(text, [pending] {
                pending->answer([](gpointer d) { webkit_script_dialog_close(scriptDialog(d)); });
            });
            return TRUE;
        }
        case WEBKIT_SCRIPT_DIALOG_CONFIRM: {
            auto pending = pendingDialog(dialog);
            delegate.runConfirm(text, [pending](bool confirmed) {
                pending->answer([&](gpointer d) {
                    webkit_script_dialog_confirm_set_confirmed(scriptDialog(d), confirmed);
                    webkit_script_dialog_close(scriptDialog(d));
                });
            });
            return TRUE;
        }
        case WEBKIT_SCRIPT_DIALOG_PROMPT: {
            auto pending = pendingDialog(dialog);
            const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
            delegate.runPrompt(text, defaultText != nullptr ? std::optional<std::string>(defaultText) : std::nullopt,
                               [pending](std::optional<std::string> answer) {
                                   pending->answer([&](gpointer d) {
                                       // Without a text the page's prompt() answers null.
                                       if (answer) webkit_script_dialog_prompt_set_text(scriptDialog(d), answer->c_str());
                                       webkit_script_dialog_close(scriptDialog(d));
                                   });
                               });
            return TRUE;
        }
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        default:
            // The application asks nothing before a page is left: the page goes, as it would without
            // a handler for this question.
            webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
            return TRUE;
    }
}

}  // namespace platform::gtk
