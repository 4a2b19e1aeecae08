#include "app/LoadFailure.h"

#include <algorithm>
#include <cmath>

#include "app/ApplicationPage.h"
#include "app/NavigationPolicy.h"

namespace LoadFailure {
namespace {

using platform::LoadError;

constexpr double firstPause = 2;
constexpr double longestPause = 300;
constexpr double pageRequestTimeout = 60;

std::string reason(LoadError error, const std::string& host) {
    switch (error) {
        case LoadError::cannotResolveHost: return "The name " + host + " could not be found.";
        case LoadError::cannotConnect: return "The server refused the connection or could not be reached.";
        case LoadError::networkUnavailable: return "This computer is not connected to a network.";
        case LoadError::timedOut: return "The server did not answer in time.";
        case LoadError::connectionLost: return "The connection to the server broke off.";
        case LoadError::certificateRejected: return "The server's certificate is not trusted.";
        default: return "The page could not be loaded.";
    }
}

}  // namespace

bool showsPage(LoadError error) { return error != LoadError::cancelled && error != LoadError::becameDownload; }

bool retriesByItself(LoadError error) {
    switch (error) {
        case LoadError::cannotResolveHost:
        case LoadError::cannotConnect:
        case LoadError::networkUnavailable:
        case LoadError::timedOut:
        case LoadError::connectionLost: return true;
        default: return false;
    }
}

double retryPause(int attempt) {
    const int doublings = std::clamp(attempt - 1, 0, 16);
    return std::min(firstPause * std::pow(2.0, doublings), longestPause);
}

PageText pageText(LoadError error, const std::string& url, const std::string& errorText) {
    std::string host = NavigationPolicy::hostText(url);
    if (host.empty()) host = url;
    PageText text{.heading = "Tolvar can't reach " + host, .message = reason(error, host), .button = "Try Again"};
    if (!errorText.empty()) text.message += "\n" + errorText;
    if (error == LoadError::certificateRejected) {
        text.heading = "Tolvar can't connect securely to " + host;
        text.message += "\nTolvar does not open pages whose certificate it cannot trust, and does not try again by "
                        "itself. Check this computer's date and the network you are on.";
    } else if (retriesByItself(error)) {
        text.message += "\nTolvar tries again by itself, and as soon as the network is back.";
    } else {
        text.heading = "Tolvar can't open " + host;
    }
    return text;
}

void Recovery::loadFailed(const std::string& url, LoadError error, const std::string& errorText) {
    if (!showsPage(error)) return;
    const auto text = pageText(error, url, errorText);
    webView_.showApplicationPage(ApplicationPage::render(text.heading, text.message, text.button), url);
    if (!retriesByItself(error)) {
        loadSucceeded();  // nothing more to wait for
        return;
    }
    if (retryURL_ != url) attempts_ = 0;
    retryURL_ = url;
    ++attempts_;
    retryTimer_ = platform::runOnceAfter(retryPause(attempts_), [this] { retryNow(); });
}

void Recovery::loadSucceeded() {
    retryURL_.reset();
    attempts_ = 0;
    retryTimer_.cancel();
}

void Recovery::networkChanged(bool available) {
    if (available && retryURL_) retryNow();
}

void Recovery::retryNow() {
    retryTimer_.cancel();
    if (retryURL_) webView_.load(*retryURL_, pageRequestTimeout);
}

}  // namespace LoadFailure
