#include "app/WindowFrame.h"

#include <algorithm>

namespace WindowFrame {

platform::Rect contentRect(const std::optional<platform::Rect>& visibleFrame) {
    const platform::Rect visible = visibleFrame.value_or(fallbackVisibleFrame);
    const double width = std::min(visible.width * 0.85, 1200.0);
    const double height = std::min(visible.height * 0.85, 800.0);
    return {visible.x + (visible.width - width) * 0.5, visible.y + (visible.height - height) * 0.5, width, height};
}

}  // namespace WindowFrame
