// tolvar-capture-host: the native-messaging host that the Tolvar browser extension talks to. The
// browser starts it and writes length-prefixed JSON messages to its standard input; each accepted
// message becomes the browser's latest report in the user's runtime directory. Every message gets
// one answer on standard output: {"accepted":true} or {"accepted":false,"reason":...}. Malformed
// and oversized messages are answered and otherwise ignored, so the last good report stays.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "capture/CaptureRules.h"
#include "capture/NativeMessaging.h"
#include "capture/ReportStore.h"

namespace {

double millisecondsSince1970() {
    using namespace std::chrono;
    return static_cast<double>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

// The file name of the parent process's executable: the browser that started this host.
std::string parentExecutable() {
    std::error_code error;
    const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(getppid()) + "/exe", error);
    return error ? std::string() : target.filename().string();
}

bool answer(bool accepted, const std::string& reason = {}) {
    nlohmann::json reply{{"accepted", accepted}};
    if (!accepted) reply["reason"] = reason;
    return capture::writeFrame(STDOUT_FILENO, reply.dump());
}

}  // namespace

int main() {
    // A browser that goes away closes the pipe; that ends the loop below instead of a signal.
    ::signal(SIGPIPE, SIG_IGN);
    const auto store = capture::ReportStore::forRuntimeDirectory();
    const std::string parent = parentExecutable();
    for (;;) {
        const auto frame = capture::readFrame(STDIN_FILENO, capture::longestMessage);
        if (frame.kind == capture::Frame::Kind::end || frame.kind == capture::Frame::Kind::truncated) return 0;
        if (frame.kind == capture::Frame::Kind::oversized) {
            if (!answer(false, "message too long")) return 0;
            continue;
        }
        auto verdict = capture::reportFromMessage(frame.body);
        if (!verdict.report) {
            if (!answer(false, verdict.rejection)) return 0;
            continue;
        }
        auto& report = *verdict.report;
        report.browser = capture::reportingBrowser(report.browser, parent);
        report.received = millisecondsSince1970();
        const pid_t browserPid = getppid();
        report.pid = browserPid > 1 ? browserPid : 0;
        const bool stored = store && store->write(report);
        if (!answer(stored, stored ? "" : "no private runtime folder to keep the report in")) return 0;
    }
}
