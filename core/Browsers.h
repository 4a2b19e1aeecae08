#pragma once

#include <span>
#include <string_view>

// The browsers Tolvar knows, in one table: how quick save names them, how their windows and
// processes are recognised, and where page capture finds their profile. Adding a browser is one
// entry in Browsers.cpp.
namespace core {

struct Browser {
    // The name a capture request asks for ("tell application \"<name>\" …").
    std::string_view applicationName;
    // The reverse-DNS identifier by which the front application is known.
    std::string_view identifier;
    // Whether the browser is asked for its front document rather than its front window's active tab.
    bool asksFrontDocument = false;

    // The rest is empty for a browser that does not run on Linux, which no capture can ask.

    // Short name: the extension report's "browser" and the name of the report's state file.
    std::string_view key;
    // The browser's own folder under the XDG config folder, which holds the profile's
    // "DevToolsActivePort" and "NativeMessagingHosts"; empty for Firefox, which keeps its host
    // manifests under ~/.mozilla and has no such endpoint.
    std::string_view configFolder;
    // Names of the browser's main executable, by which the capture host recognises the browser that
    // started it.
    std::span<const std::string_view> executables;
    // The X11 window classes of its windows, lower-case.
    std::span<const std::string_view> windowClasses;

    bool runsOnLinux() const { return !key.empty(); }
};

// Every known browser, in a fixed order.
std::span<const Browser> browsers();

// Lookups compare exactly. By identifier any known browser is found; the others find only
// browsers that run on Linux.
const Browser* browserForIdentifier(std::string_view identifier);
const Browser* browserForApplicationName(std::string_view name);
const Browser* browserForKey(std::string_view key);
const Browser* browserForExecutable(std::string_view fileName);
// `windowClass` compares without regard to ASCII case.
const Browser* browserForWindowClass(std::string_view windowClass);

}  // namespace core
