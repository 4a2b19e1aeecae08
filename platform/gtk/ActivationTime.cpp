#include "platform/gtk/ActivationTime.h"

#include <gtk/gtk.h>

namespace platform::gtk {
namespace {

std::uint32_t notedTime = 0;

}  // namespace

void noteActivationTime(std::uint32_t time) { notedTime = time; }

std::uint32_t activationTime() {
    const std::uint32_t current = gtk_get_current_event_time();
    return current != GDK_CURRENT_TIME ? current : notedTime;
}

}  // namespace platform::gtk
