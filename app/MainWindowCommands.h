#pragma once

#include <optional>
#include <string>

#include "app/ServiceAddress.h"

// The arithmetic and addresses behind the main window's Bookmarks and View commands.
namespace MainWindowCommands {

inline constexpr double actualSize = 1.0;
inline constexpr double minimumZoom = 0.5;

// Plain steps of 0.1 with no rounding, so repeated steps show floating-point sums.
double zoomedIn(double factor);
double zoomedOut(double factor);

// The service's new-bookmark page.
std::string newBookmarkURL(const ServiceAddress::Address& service);

// The new-bookmark page for the web address on the clipboard, or nothing when the clipboard holds
// no http or https address. The trimmed clipboard text reaches the page as the "url" value.
std::optional<std::string> clipboardBookmarkURL(const std::optional<std::string>& clipboard,
                                                const ServiceAddress::Address& service);

}  // namespace MainWindowCommands
