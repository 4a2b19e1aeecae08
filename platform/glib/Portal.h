#pragma once

// Where the desktop portal's interfaces live on the session bus.
namespace platform::portal {

inline constexpr const char* busName = "org.freedesktop.portal.Desktop";
inline constexpr const char* objectPath = "/org/freedesktop/portal/desktop";

}  // namespace platform::portal
