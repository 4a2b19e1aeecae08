#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// HTTP for the updater: the version feed and the update archive.
namespace platform {

struct HttpReply {
    std::optional<std::string> error;  // why no answer came, when none did
    bool isHttp = false;               // an HTTP response arrived
    int status = 0;
    std::optional<std::string> body;   // nothing when there was no response body
};

// A GET of `url` with exactly the given extra headers, nothing taken from a local cache, ended after
// `timeoutSeconds` and refused past `largestBody` bytes. `done` runs once, on the main loop. Call it
// on the main thread.
void httpGet(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
             double timeoutSeconds, std::size_t largestBody, std::function<void(HttpReply)> done);

struct DownloadLimits {
    std::uint64_t largestFile = 0;  // bytes
    double longestSeconds = 0;      // for the whole download, from the request on
};

struct DownloadOutcome {
    std::optional<std::string> error;  // why the download failed, when it did
    bool isHttp = false;
    int status = 0;
    bool saved = false;                // the body of a 200 answer is in the destination file
};

// Stops a download from any thread: the request or the read in progress ends at once.
class DownloadCancel {
public:
    DownloadCancel();
    ~DownloadCancel();
    DownloadCancel(const DownloadCancel&) = delete;
    DownloadCancel& operator=(const DownloadCancel&) = delete;
    void cancel();
    bool cancelled() const;
    void* handle() const;  // the GCancellable behind it

private:
    void* cancellable_;
};

// Who follows a download: `progress` runs on the downloading thread after each piece of the body,
// with the bytes received and the announced length, when there is one.
struct DownloadWatch {
    std::function<void(std::uint64_t received, std::optional<std::uint64_t> total)> progress;
    const DownloadCancel* cancel = nullptr;
};

inline constexpr const char* downloadCancelledText = "cancelled";

// A plain GET of `url` whose body, for a 200 answer, is written to the new file `destination`
// (created with mode 0600; it must not exist). Larger or slower downloads than `limits` allow fail,
// and so does a cancelled one, with `downloadCancelledText`. Blocks the calling thread; meant for a
// worker thread, never the main one.
DownloadOutcome downloadFile(const std::string& url, const std::filesystem::path& destination,
                             const DownloadLimits& limits, const DownloadWatch& watch = {});

}  // namespace platform
