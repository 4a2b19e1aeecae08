#pragma once

#include <cairo.h>

#include <optional>
#include <string>

namespace platform::gtk {

// PNG bytes of a cairo surface; an empty text when encoding failed.
std::string encodePNG(cairo_surface_t* surface);

// Draws a widget (a whole window: frame contents, menu bar, web view) into a PNG picture; nothing
// when the widget has no size to draw.
std::optional<std::string> drawWidgetPNG(void* gtkWidget);

}  // namespace platform::gtk
