#pragma once

#include <optional>
#include <string>

namespace platform {

// Whether the web engine's sandbox (bubblewrap) can start on this machine: nothing when it can,
// otherwise the reason, as bubblewrap gave it. The engine itself would quietly run pages without
// it, so the answer is learned by trying bubblewrap the way the engine does.
std::optional<std::string> webSandboxProblem();

}  // namespace platform
