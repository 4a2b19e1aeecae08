#include "platform/gtk/Png.h"

#include <gtk/gtk.h>

namespace platform::gtk {
namespace {

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::string encodePNG(cairo_surface_t* surface) {
    std::string png;
    if (cairo_surface_write_to_png_stream(surface, appendBytes, &png) != CAIRO_STATUS_SUCCESS) return {};
    return png;
}

std::optional<std::string> drawWidgetPNG(void* gtkWidget) {
    auto* widget = GTK_WIDGET(gtkWidget);
    // A change made just before (a new status text) leaves the layout pending; finish it first so
    // the picture shows the window as it will be drawn on screen.
    if (GTK_IS_CONTAINER(widget) && gtk_widget_is_toplevel(widget)) gtk_container_check_resize(GTK_CONTAINER(widget));
    const int width = gtk_widget_get_allocated_width(widget);
    const int height = gtk_widget_get_allocated_height(widget);
    if (!gtk_widget_get_realized(widget) || width <= 1 || height <= 1) return std::nullopt;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return std::nullopt;
    }
    cairo_t* context = cairo_create(surface);
    gtk_widget_draw(widget, context);
    cairo_destroy(context);
    auto png = encodePNG(surface);
    cairo_surface_destroy(surface);
    return png;
}

}  // namespace platform::gtk
