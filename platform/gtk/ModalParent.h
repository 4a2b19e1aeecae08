#pragma once

#include <gtk/gtk.h>

#include "platform/MainWindow.h"

namespace platform::gtk {

// The GTK window of the main window, for dialogs modal to it. The window is given a window group
// of its own first: GTK confines a modal dialog's grab to its group, so a dialog transient for the
// main window blocks that window only and the application's other windows stay usable. Nothing
// when the main window has no GTK window.
GtkWindow* modalParent(MainWindow& window);

}  // namespace platform::gtk
