#include "app/StartAtLogin.h"

#include "platform/Services.h"

namespace StartAtLogin {

std::string change(bool on) {
    if (platform::services().setStartAtLogin(on)) return "";
    return on ? "Tolvar could not be set to start at login: its autostart entry could not be written."
              : "Tolvar still starts at login: its autostart entry could not be removed.";
}

}  // namespace StartAtLogin
