#pragma once

#include <optional>
#include <string>

namespace platform {

// Whether the web engine's sandbox (bubblewrap) can start on this machine: nothing when it can,
// otherwise the reason, as bubblewrap gave it. The engine itself would quietly run pages without
// it, so the answer is learned by trying bubblewrap the way the engine does.
// The first call waits for the trial run that startWebSandboxProbe() started, if any.
std::optional<std::string> webSandboxProblem();

// Starts that trial run without waiting for it, so that it runs while the toolkit starts.
void startWebSandboxProbe();

}  // namespace platform
