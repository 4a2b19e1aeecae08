// Address parsing and resolution, the navigation policy's host rules and the update's trusted host.
#include <cstdint>
#include <cstdlib>

#include "app/NavigationPolicy.h"
#include "platform/Url.h"
#include "update/UpdateCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    platform::parseURL(text);
    platform::resolveURL("https://web.tolvar.app/app/bookmarks", text);
    const auto host = NavigationPolicy::hostText(text);
    NavigationPolicy::isInAppHost(host);
    NavigationPolicy::isSignInHost(host);
    NavigationPolicy::decideNavigation({.url = text});
    for (bool automation : {false, true}) UpdateCheck::detail::trustedHost(text, automation);
    return 0;
}
