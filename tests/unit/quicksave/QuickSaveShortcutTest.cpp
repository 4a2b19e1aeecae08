#include "quicksave/QuickSaveShortcut.h"

#include <gtest/gtest.h>

namespace {

using namespace QuickSaveShortcut;

TEST(QuickSaveShortcut, OnlyATriggerInEffectIsNamed) {
    EXPECT_TRUE(shouldAskPortal(false, true));
    EXPECT_FALSE(shouldAskPortal(true, true));
    EXPECT_FALSE(shouldAskPortal(false, false));

    const struct {
        bool x11KeyHeld;
        std::optional<std::string> portalTrigger;
        std::optional<std::string> inEffect;
    } cases[] = {
        {true, std::nullopt, "Ctrl+Alt+B"},
        {true, "Meta+S", "Ctrl+Alt+B"},
        {false, "Ctrl+Alt+B", "Ctrl+Alt+B"},
        {false, "Press Super+S", "Press Super+S"},
        {false, std::nullopt, std::nullopt},
        {false, "", std::nullopt},
        {false, " \t", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.portalTrigger.value_or("(none)"));
        EXPECT_EQ(triggerInEffect(c.x11KeyHeld, c.portalTrigger), c.inEffect);
    }

    const auto named = texts(std::string("Ctrl+Alt+B"));
    EXPECT_EQ(named.statusMenuTitle, "Save Current Page…  Ctrl+Alt+B");
    EXPECT_EQ(named.bookmarksMenuTitle, "Quick Save Current Page…  Ctrl+Alt+B");
    EXPECT_EQ(named.tooltip, "Tolvar — Ctrl+Alt+B saves the page you're reading");
    EXPECT_EQ(named.hint, "Paste a link, or press Ctrl+Alt+B while a browser page is in front.");

    const auto none = texts(std::nullopt);
    for (const auto& text : {none.statusMenuTitle, none.bookmarksMenuTitle, none.tooltip, none.hint}) {
        EXPECT_EQ(text.find("Ctrl"), std::string::npos) << text;
    }
    EXPECT_EQ(none.statusMenuTitle, "Save Current Page…");
    EXPECT_EQ(none.bookmarksMenuTitle, "Quick Save Current Page…");
    EXPECT_EQ(none.hint, "Paste a link, or bind a keyboard shortcut to “tolvar --quick-save”.");
}

}  // namespace
