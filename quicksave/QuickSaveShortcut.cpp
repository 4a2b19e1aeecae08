#include "quicksave/QuickSaveShortcut.h"

#include <algorithm>
#include <cctype>

namespace QuickSaveShortcut {
namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// Sets the flag a modifier name ("Ctrl", "Primary", ...) stands for; false for an unknown name.
bool setModifier(Combination& combination, std::string_view name) {
    if (sameLetters(name, "Ctrl") || sameLetters(name, "Control") || sameLetters(name, "Primary")) {
        combination.ctrl = true;
    } else if (sameLetters(name, "Alt") || sameLetters(name, "Mod1")) {
        combination.alt = true;
    } else if (sameLetters(name, "Shift")) {
        combination.shift = true;
    } else if (sameLetters(name, "Super") || sameLetters(name, "Mod4")) {
        combination.super = true;
    } else {
        return false;
    }
    return true;
}

bool isKeyName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_';
    });
}

}  // namespace

std::string Combination::accelerator() const {
    std::string text;
    if (ctrl) text += "<Ctrl>";
    if (alt) text += "<Alt>";
    if (shift) text += "<Shift>";
    if (super) text += "<Super>";
    return text + key;
}

std::string Combination::label() const {
    std::string text;
    if (ctrl) text += "Ctrl+";
    if (alt) text += "Alt+";
    if (shift) text += "Shift+";
    if (super) text += "Super+";
    std::string shown = key;
    if (!shown.empty()) shown[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(shown[0])));
    return text + shown;
}

std::optional<Combination> parseAccelerator(std::string_view text) {
    Combination combination;
    while (!text.empty() && text.front() == '<') {
        const auto end = text.find('>');
        if (end == std::string_view::npos || !setModifier(combination, text.substr(1, end - 1))) return std::nullopt;
        text.remove_prefix(end + 1);
    }
    if (!isKeyName(text)) return std::nullopt;
    combination.key = std::string(text);
    // A letter names the same key in either case; it is kept in upper case, as shown.
    if (combination.key.size() == 1) {
        combination.key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(combination.key[0])));
    }
    return combination;
}

std::optional<std::string> refusal(const Combination& combination) {
    if (!combination.ctrl && !combination.alt && !combination.super) {
        return "Use Ctrl, Alt or Super in the combination, so that it does not take a key you type with.";
    }
    return std::nullopt;
}

Combination chosenCombination(const std::optional<std::string>& stored) {
    if (stored) {
        if (auto combination = parseAccelerator(*stored); combination && !refusal(*combination)) return *combination;
    }
    return *parseAccelerator(x11Accelerator);
}

bool shouldAskPortal(bool x11KeyHeld, bool waylandSession) { return !x11KeyHeld && waylandSession; }

std::optional<std::string> triggerInEffect(const std::optional<std::string>& heldX11Key,
                                           const std::optional<std::string>& portalTrigger,
                                           const std::optional<std::string>& gnomeTrigger) {
    if (heldX11Key) return heldX11Key;
    const bool blank = !portalTrigger || std::all_of(portalTrigger->begin(), portalTrigger->end(), [](unsigned char c) {
        return c == ' ' || c == '\t' || c == '\n';
    });
    if (!blank) return portalTrigger;
    return gnomeTrigger;
}

Texts texts(const std::optional<std::string>& trigger) {
    if (!trigger) {
        return {.statusMenuTitle = "Save Current Page…",
                .bookmarksMenuTitle = "Quick Save Current Page…",
                .tooltip = "Tolvar — “Save Current Page…” saves the page you're reading",
                .hint = "Paste a link, or bind a keyboard shortcut to “tolvar --quick-save”."};
    }
    return {.statusMenuTitle = "Save Current Page…  " + *trigger,
            .bookmarksMenuTitle = "Quick Save Current Page…  " + *trigger,
            .tooltip = "Tolvar — " + *trigger + " saves the page you're reading",
            .hint = "Paste a link, or press " + *trigger + " while a browser page is in front."};
}

}  // namespace QuickSaveShortcut
