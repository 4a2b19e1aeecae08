#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace platform {

enum class NavigationType { linkActivated, formSubmitted, backForward, reload, formResubmitted, other };

struct NavigationAction {
    std::optional<std::string> url;  // nothing when the request has no address
    NavigationType type = NavigationType::other;
    bool shouldDownload = false;
};

enum class NavigationDecision { cancel, allow, download };

// Why a main-frame load failed, as far as the program's decisions need to know.
enum class LoadError {
    cancelled,            // stopped by the user or replaced by another load
    becameDownload,       // the response went to a download instead
    cannotResolveHost,    // the host name did not resolve
    cannotConnect,        // refused, or no route to the host
    networkUnavailable,   // the system has no network
    timedOut,             // no answer in time
    connectionLost,       // the connection broke off before the page arrived
    certificateRejected,  // the server's TLS certificate was not trusted
    other,
};

// A response the main frame received, before it is shown.
struct NavigationResponse {
    bool canShowContentType = false;
    std::string contentDisposition;  // the Content-Disposition header's value, "" when absent
};

// What a file input allows the user to pick.
struct FileInputRequest {
    bool allowsMultipleSelection = false;
    bool allowsDirectories = false;
};

// The answers to the engine's requests for the desktop. Each is called exactly once; one that is
// dropped without being called answers nothing (no destination, no files, no text).
// A destination path for a download (an existing file there is replaced), or nothing to cancel it.
using DownloadDestinationReply = std::function<void(std::optional<std::filesystem::path>)>;
// The files for a file input, or nothing when none were chosen.
using FileInputReply = std::function<void(std::optional<std::vector<std::filesystem::path>>)>;

// The program's answers to the web engine's questions about the main web view.
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual NavigationDecision decideNavigation(const NavigationAction& action) = 0;
    virtual NavigationDecision decideResponse(const NavigationResponse& response) = 0;
    // A page asked for a new window. The engine never gets one: the delegate loads the address in
    // the main web view or hands it elsewhere.
    virtual void newWindowRequested(const NavigationAction& action) = 0;
    virtual void loadFinished() = 0;
    // A main-frame load of `url` failed; `errorText` is the engine's own description. No
    // loadFinished() follows it.
    virtual void loadFailed(const std::string& /*url*/, LoadError /*error*/, const std::string& /*errorText*/) {}
    // The process that ran the page ended (crashed, ran out of memory, or was ended); `reason` says
    // which. Scripts that were pending in it have already ended as failures.
    virtual void webProcessEnded(const std::string& /*reason*/) {}
    // The engine's network process ended; the engine starts a new one, without the cookies of an
    // in-memory session.
    virtual void networkProcessEnded() {}

    // A download began; exactly one downloadFinished() or downloadFailed() follows.
    virtual void downloadStarted() {}
    // Downloads: where the file goes, given the name the engine suggests, then exactly one outcome.
    // A delegate that does not handle them cancels every download.
    virtual void decideDownloadDestination(const std::string& /*suggestedFilename*/, DownloadDestinationReply reply) {
        reply(std::nullopt);
    }
    virtual void downloadFinished() {}
    virtual void downloadFailed(const std::string& /*errorText*/) {}
    // A file input asks for files. Unhandled, the page gets none.
    virtual void runFileChooser(const FileInputRequest& /*request*/, FileInputReply reply) { reply(std::nullopt); }
    // Page script dialogs. Unhandled, they close at once: confirmations answer false, prompts null.
    virtual void runAlert(const std::string& /*message*/, std::function<void()> done) { done(); }
    virtual void runConfirm(const std::string& /*message*/, std::function<void(bool)> done) { done(false); }
    virtual void runPrompt(const std::string& /*prompt*/, const std::optional<std::string>& /*defaultText*/,
                           std::function<void(std::optional<std::string>)> done) {
        done(std::nullopt);
    }
};

// What a page script answered: a JSON value (null for no value), or the error it failed with.
struct ScriptResult {
    bool succeeded = false;
    nlohmann::json value;
    std::string error;
};

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;
    std::string path = "/";
    bool secure = true;
};

class WebView {
public:
    virtual ~WebView() = default;

    // Loads an address. A load that has not received its response after `timeoutSeconds` is stopped.
    virtual void load(const std::string& url, double timeoutSeconds) = 0;
    virtual void reload() = 0;
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual double zoom() const = 0;
    virtual void setZoom(double factor) = 0;
    // The current address, or "" when there is none.
    virtual std::string currentURL() const = 0;

    // A PNG picture of the visible page; nothing when none could be taken. `done` runs on the main
    // loop, and not at all once the web view is gone.
    virtual void snapshotPNG(std::function<void(std::optional<std::string>)> done) = 0;
    // Runs `body` as the body of an async function in the page's own script world, with each
    // member of `arguments` bound to a local variable of that name. `done` runs once on the main
    // loop, and not at all once the web view is gone. A script that has not answered after
    // `timeLimitSeconds` fails with an error that says it timed out; its later answer is ignored.
    virtual void callAsyncJavaScript(const std::string& body, const nlohmann::json& arguments,
                                     double timeLimitSeconds, std::function<void(ScriptResult)> done) = 0;
    // A left click (press and release) at a point of the page's viewport, in CSS pixels.
    virtual void clickAt(double x, double y) = 0;
    // Plants a cookie in the web view's cookie store; `done` runs once the store confirmed it
    // (true) or refused it (false).
    virtual void setCookie(const Cookie& cookie, std::function<void(bool stored)> done) = 0;
    // Shows a page of the application's own in place of `forURL`. The view's address stays `forURL`, so
    // the page's own location.reload() loads that address again. Such a page is never reported through loadFinished().
    virtual void showApplicationPage(const std::string& html, const std::string& forURL) = 0;
    // Ends the page's process and forgets the page (its address becomes ""), to give its memory
    // back while nobody needs it; the next load starts a new process. Scripts pending in it end as
    // failures; this is not reported through webProcessEnded().
    virtual void suspendPage() = 0;
};

}  // namespace platform
