#pragma once

#include <gtkmm.h>

namespace platform::gtk {

// A label that assistive technologies treat as a polite live region with the role of a status
// bar: screen readers speak its new text when it changes, without the user moving to it. The
// label is managed: the container it is added to owns it.
Gtk::Label& createLiveLabel();

}  // namespace platform::gtk
