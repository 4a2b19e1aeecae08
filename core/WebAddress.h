#pragma once

#include <string_view>

// What counts as a web address: one the application opens, saves, offers to the service or returns
// to. The address parser lives in platform/Url.h; this is the rule applied to what it found.
namespace core {

// Whether `scheme` is "http" or "https", in any case.
bool isWebScheme(std::string_view scheme);

// Whether an address is a web address: an http or https scheme and a host.
bool isWebAddress(std::string_view scheme, bool namesHost);

}  // namespace core
