#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bench/XDisplay.h"
#include "tests/support/AppProcess.h"

namespace bench {

using Environment = std::map<std::string, std::optional<std::string>>;

// A private X display (Xvfb), a D-Bus session bus and a temporary HOME for one program run.
// Everything started below this process is killed when the session ends.
class PrivateSession {
public:
    PrivateSession();
    ~PrivateSession();
    PrivateSession(const PrivateSession&) = delete;
    PrivateSession& operator=(const PrivateSession&) = delete;

    // The environment a program run in this session gets.
    const Environment& environment() const { return environment_; }
    const std::filesystem::path& home() const { return home_.path(); }
    XDisplay& x() { return *x_; }
    // Puts text on the display's clipboard (xclip keeps serving it until the session ends).
    void setClipboard(const std::string& text);

private:
    testsupport::TemporaryFolder home_;
    std::string display_;
    Environment environment_;
    std::unique_ptr<XDisplay> x_;
};

// Runs a program to its end with its output discarded; answers its exit status (-1: no normal exit).
int runQuietly(const std::vector<std::string>& arguments, const Environment& environment = {});

}  // namespace bench
