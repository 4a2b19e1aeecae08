#include <gtest/gtest.h>

#include <set>

#include "app/MenuBar.h"

namespace {

// What each command does is proven through the shell (AppDelegateTest); here, the menus' own rules.
TEST(MenuBar, ShortcutsAreDistinctAndCommandsNotWiredAreDisabled) {
    std::set<std::string> seen;
    for (const auto& menu : MenuBar::build({})) {
        for (const auto& item : menu.items) {
            if (!item.separator && item.standard == platform::StandardAction::none) { EXPECT_FALSE(item.enabled) << item.title; }
            if (item.shortcut.key.empty()) continue;
            const auto& s = item.shortcut;
            EXPECT_TRUE(seen.insert(s.key + (s.alt ? "+alt" : "") + (s.shift ? "+shift" : "")).second) << item.title;
        }
    }
    EXPECT_GE(seen.size(), 15u);
}

}  // namespace
