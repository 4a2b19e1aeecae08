#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/QuickSavePanel.h"
#include "platform/WebView.h"

// What the quick-save panel sends through the signed-in web view, and how it reads the answers.
namespace SaveRequests {

// Page scripts run with `body` bound to a JSON text. They use paths relative to the page, so the
// web application's own origin and cookies go with them.
extern const std::string createScript;
extern const std::string titleScript;

// {"0":{"json":{"url": address}}}; nothing when the address is not valid UTF-8.
std::optional<std::string> titleRequestBody(const std::string& address);

struct Reply {
    std::int64_t status = 0;
    std::string text;
};

// The create script's answer: a JSON text holding "status" (an integer) and "text" (a text).
// Nothing when the script failed or answered anything else.
std::optional<Reply> decodeCreateReply(const platform::ScriptResult& result);

// The names of the controls that stick out of the content area by more than half a point.
std::vector<std::string> clippedControls(const platform::Rect& content, const std::vector<platform::ControlFrame>& controls);

}  // namespace SaveRequests
