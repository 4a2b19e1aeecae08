#pragma once

#include "app/ShellServices.h"
#include "platform/Services.h"
#include "update/UpdateFlow.h"

// The real services: GTK's windows, panel, dialogs and desktop, the GLib main loop, the keybinder
// hot key, the desktop portal, page capture from the active window, the settings and the environment.
platform::Services processServices();

// The shell's real entry points: the data folders' safety, the updater and Preferences.
ShellServices shellProcessServices();

// What the real update check reaches: the system clock, the settings, platform::httpGet, SelfUpdate,
// the default handler for addresses, syslog, the toolkit's alerts, progress window and notifications.
UpdateFlow::FlowServices updateFlowProcessServices();
