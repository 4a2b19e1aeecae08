#include "app/MenuBar.h"

namespace MenuBar {
namespace {

using platform::Menu;
using platform::MenuItem;
using platform::Shortcut;
using platform::StandardAction;

MenuItem command(std::string title, const std::function<void()>& action, Shortcut shortcut = {}) {
    return MenuItem{.title = std::move(title), .shortcut = std::move(shortcut), .action = action,
                    .enabled = static_cast<bool>(action)};
}

MenuItem standard(std::string title, StandardAction action, Shortcut shortcut = {}) {
    return MenuItem{.title = std::move(title), .shortcut = std::move(shortcut), .standard = action};
}

MenuItem checkItem(std::string title, const std::function<bool()>& checked, const std::function<void()>& toggle) {
    return MenuItem{.title = std::move(title), .action = toggle, .enabled = toggle && checked, .checked = checked};
}

MenuItem keyed(MenuItem item, std::string key) {
    item.key = std::move(key);
    return item;
}

}  // namespace

std::vector<Menu> build(const Actions& actions) {
    const MenuItem separator = MenuItem::separatorItem();
    return {
        {"Tolvar",
         {standard("About Tolvar", StandardAction::about), command("Check for Updates…", actions.checkForUpdates),
          checkItem("Start at Login", actions.startsAtLogin, actions.toggleStartAtLogin),
          command("Preferences…", actions.preferences, {"comma"}), separator, standard("Hide Tolvar", StandardAction::hide, {"h"}), separator,
          standard("Quit Tolvar", StandardAction::quit, {"q"})}},
        {"Bookmarks",
         {// Quick save names its global shortcut here once it knows which one is in effect.
          keyed(command("Quick Save Current Page…", actions.quickSave), std::string(quickSaveItemKey)),
          command("New Bookmark", actions.newBookmark, {"n"}),
          command("Save Clipboard URL", actions.saveClipboardURL, {"b", true})}},
        {"Edit",
         {standard("Undo", StandardAction::undo, {"z"}), standard("Redo", StandardAction::redo, {"z", true}),
          separator, standard("Cut", StandardAction::cut, {"x"}), standard("Copy", StandardAction::copy, {"c"}),
          standard("Paste", StandardAction::paste, {"v"}),
          standard("Select All", StandardAction::selectAll, {"a"})}},
        {"View",
         {command("Reload", actions.reloadPage, {"r"}), separator, command("Back", actions.goBack, {"bracketleft"}),
          command("Forward", actions.goForward, {"bracketright"}), separator,
          command("Zoom In", actions.zoomIn, {"plus"}), command("Zoom Out", actions.zoomOut, {"minus"}),
          command("Actual Size", actions.zoomReset, {"0"})}},
        {"Window",
         {standard("Minimize", StandardAction::minimize, {"m"}), standard("Zoom", StandardAction::zoom)}},
    };
}

}  // namespace MenuBar
