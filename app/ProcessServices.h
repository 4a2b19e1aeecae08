#pragma once

#include "platform/Services.h"

// The real services: GTK's windows, panel, dialogs and desktop, the GLib main loop, the keybinder
// hot key, the desktop portal, page capture and the update check.
platform::Services processServices();
