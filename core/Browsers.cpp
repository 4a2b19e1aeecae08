#include "core/Browsers.h"

#include <algorithm>
#include <array>

namespace core {
namespace {

using Names = std::span<const std::string_view>;

constexpr std::array<std::string_view, 2> chromeExecutables{"chrome", "google-chrome"};
constexpr std::array<std::string_view, 2> chromiumExecutables{"chromium", "chromium-browser"};
constexpr std::array<std::string_view, 2> braveExecutables{"brave", "brave-browser"};
constexpr std::array<std::string_view, 2> edgeExecutables{"msedge", "microsoft-edge"};
constexpr std::array<std::string_view, 2> vivaldiExecutables{"vivaldi-bin", "vivaldi"};
constexpr std::array<std::string_view, 3> firefoxExecutables{"firefox", "firefox-bin", "firefox-esr"};

constexpr std::array<std::string_view, 1> chromeWindows{"google-chrome"};
constexpr std::array<std::string_view, 2> chromiumWindows{"chromium", "chromium-browser"};
constexpr std::array<std::string_view, 1> braveWindows{"brave-browser"};
constexpr std::array<std::string_view, 1> edgeWindows{"microsoft-edge"};
constexpr std::array<std::string_view, 2> vivaldiWindows{"vivaldi-stable", "vivaldi"};
constexpr std::array<std::string_view, 2> firefoxWindows{"firefox", "firefox-esr"};

constexpr std::array<Browser, 9> table{{
    {"Google Chrome", "com.google.Chrome", false, "chrome", "google-chrome", chromeExecutables, chromeWindows},
    {"Chromium", "org.chromium.Chromium", false, "chromium", "chromium", chromiumExecutables, chromiumWindows},
    {"Brave Browser", "com.brave.Browser", false, "brave", "BraveSoftware/Brave-Browser", braveExecutables,
     braveWindows},
    {"Microsoft Edge", "com.microsoft.edgemac", false, "edge", "microsoft-edge", edgeExecutables, edgeWindows},
    {"Vivaldi", "com.vivaldi.Vivaldi", false, "vivaldi", "vivaldi", vivaldiExecutables, vivaldiWindows},
    {"Firefox", "org.mozilla.firefox", false, "firefox", "", firefoxExecutables, firefoxWindows},
    // Named in requests that reach Linux from elsewhere; they are refused as unsupported.
    {"Safari", "com.apple.Safari", true, "", "", {}, {}},
    {"Safari Technology Preview", "com.apple.SafariTechnologyPreview", true, "", "", {}, {}},
    {"Arc", "company.thebrowser.Browser", false, "", "", {}, {}},
}};

bool contains(Names names, std::string_view name) { return std::find(names.begin(), names.end(), name) != names.end(); }

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

template <typename Matches>
const Browser* find(Matches matches) {
    const auto found = std::find_if(table.begin(), table.end(), matches);
    return found == table.end() ? nullptr : &*found;
}

}  // namespace

std::span<const Browser> browsers() { return table; }

const Browser* browserForIdentifier(std::string_view identifier) {
    return find([&](const Browser& browser) { return browser.identifier == identifier; });
}

const Browser* browserForApplicationName(std::string_view name) {
    return find([&](const Browser& browser) { return browser.runsOnLinux() && browser.applicationName == name; });
}

const Browser* browserForKey(std::string_view key) {
    return find([&](const Browser& browser) { return browser.runsOnLinux() && browser.key == key; });
}

const Browser* browserForExecutable(std::string_view fileName) {
    return find([&](const Browser& browser) { return contains(browser.executables, fileName); });
}

const Browser* browserForWindowClass(std::string_view windowClass) {
    return find([&](const Browser& browser) {
        return std::any_of(browser.windowClasses.begin(), browser.windowClasses.end(),
                           [&](std::string_view known) { return equalsIgnoringAsciiCase(known, windowClass); });
    });
}

}  // namespace core
