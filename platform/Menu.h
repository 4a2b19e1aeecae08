#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Actions that the toolkit answers itself, on the focused window or its focused content.
enum class StandardAction { none, about, hide, quit, undo, redo, cut, copy, paste, selectAll, minimize, zoom };

// A key equivalent: Ctrl plus the named key (an X key name such as "n", "B", "bracketleft",
// "plus"), with optional Shift and Alt. An empty key means no shortcut.
struct Shortcut {
    std::string key;
    bool shift = false;
    bool alt = false;
};

struct MenuItem {
    std::string title;
    std::string key;  // a name by which the title can be changed later; empty for most items
    Shortcut shortcut;
    std::function<void()> action;  // the program's own action, or empty for a standard one
    StandardAction standard = StandardAction::none;
    bool separator = false;
    bool enabled = true;
    // Makes a check item, showing this state each time its menu opens; `action` changes it.
    std::function<bool()> checked;

    static MenuItem separatorItem() { return MenuItem{.separator = true}; }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

}  // namespace platform
