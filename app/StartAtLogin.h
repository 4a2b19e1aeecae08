#pragma once

#include <string>

// Starting at login, changed from the menu item or the Preferences window's check box.
namespace StartAtLogin {

// Turns it on or off through the login item: the message that says what failed, or empty when the
// login item was changed.
std::string change(bool on);

}  // namespace StartAtLogin
