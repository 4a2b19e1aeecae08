#include "app/WindowFrame.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace WindowFrame {

platform::Rect contentRect(const std::optional<platform::Rect>& visibleFrame) {
    const platform::Rect visible = visibleFrame.value_or(fallbackVisibleFrame);
    const double width = std::min(visible.width * 0.85, 1200.0);
    const double height = std::min(visible.height * 0.85, 800.0);
    return {visible.x + (visible.width - width) * 0.5, visible.y + (visible.height - height) * 0.5, width, height};
}

namespace {

std::optional<platform::Rect> parsed(const std::string& text) {
    std::istringstream in(text);
    platform::Rect frame;
    if (!(in >> frame.x >> frame.y >> frame.width >> frame.height)) return std::nullopt;
    in >> std::ws;
    if (!in.eof()) return std::nullopt;
    for (double value : {frame.x, frame.y, frame.width, frame.height}) {
        if (!std::isfinite(value) || std::abs(value) > 100000) return std::nullopt;
    }
    return frame;
}

bool overlaps(const platform::Rect& a, const platform::Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

}  // namespace

std::string settingText(const platform::Rect& frame) {
    std::ostringstream out;
    out << std::lround(frame.x) << ' ' << std::lround(frame.y) << ' ' << std::lround(frame.width) << ' '
        << std::lround(frame.height);
    return out.str();
}

platform::Rect restoredRect(const std::optional<std::string>& stored, const std::optional<platform::Rect>& visibleFrame) {
    const auto frame = stored ? parsed(*stored) : std::nullopt;
    if (!frame) return contentRect(visibleFrame);
    const platform::Rect visible = visibleFrame.value_or(fallbackVisibleFrame);
    platform::Rect result = *frame;
    result.width = std::max(std::min(result.width, visible.width), minimumSize.width);
    result.height = std::max(std::min(result.height, visible.height), minimumSize.height);
    if (!overlaps(result, visible)) {
        result.x = visible.x + (visible.width - result.width) * 0.5;
        result.y = visible.y + (visible.height - result.height) * 0.5;
    }
    return result;
}

}  // namespace WindowFrame
