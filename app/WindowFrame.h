#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Geometry.h"

namespace WindowFrame {

// Used when there is no screen to measure.
inline constexpr platform::Rect fallbackVisibleFrame{0, 0, 1280, 850};
inline constexpr platform::Size minimumSize{800, 500};

// The main window's content rectangle: 85 % of the visible frame, at most 1200 × 800, centred in it.
platform::Rect contentRect(const std::optional<platform::Rect>& visibleFrame);

// The setting that keeps the main window's content rectangle between starts, as "x y width height".
inline constexpr std::string_view settingKey = "tolvar.mainWindowFrame";
std::string settingText(const platform::Rect& frame);

// The content rectangle for a new main window: the stored one, at least the minimum size and no
// larger than the visible frame, and centred in the visible frame when it lies wholly outside it
// (a monitor since removed); contentRect() when nothing readable is stored.
platform::Rect restoredRect(const std::optional<std::string>& stored, const std::optional<platform::Rect>& visibleFrame);

}  // namespace WindowFrame
