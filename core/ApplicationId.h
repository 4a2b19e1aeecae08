#pragma once

#include <string_view>

namespace core {

// This application's reverse-DNS identifier: its D-Bus name, the name of its desktop entry, icons
// and metainfo, and how it recognises its own windows as the front application.
inline constexpr std::string_view applicationId = TOLVAR_APPLICATION_ID;

}  // namespace core
