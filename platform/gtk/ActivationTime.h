#pragma once

#include <cstdint>

namespace platform::gtk {

// The X server time of the key press that asked for a window (the global hot key), so the window
// can be raised with it: window managers refuse to hand the focus to a window raised without a
// user action's time.
void noteActivationTime(std::uint32_t time);

// The noted time, or the current event's time when there is one; 0 when neither is known.
std::uint32_t activationTime();

}  // namespace platform::gtk
