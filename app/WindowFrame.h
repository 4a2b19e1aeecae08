#pragma once

#include <optional>

#include "platform/Geometry.h"

namespace WindowFrame {

// Used when there is no screen to measure.
inline constexpr platform::Rect fallbackVisibleFrame{0, 0, 1280, 850};
inline constexpr platform::Size minimumSize{800, 500};

// The main window's content rectangle: 85 % of the visible frame, at most 1200 × 800, centred in it.
platform::Rect contentRect(const std::optional<platform::Rect>& visibleFrame);

}  // namespace WindowFrame
