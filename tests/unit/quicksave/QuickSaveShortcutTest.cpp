#include "quicksave/QuickSaveShortcut.h"

#include <gtest/gtest.h>

namespace {

using namespace QuickSaveShortcut;

TEST(QuickSaveShortcut, OnlyATriggerInEffectIsNamed) {
    EXPECT_TRUE(shouldAskPortal(false, true));
    EXPECT_FALSE(shouldAskPortal(true, true));
    EXPECT_FALSE(shouldAskPortal(false, false));

    const std::optional<std::string> held = "Ctrl+Alt+K";
    const struct {
        std::optional<std::string> heldX11Key;
        std::optional<std::string> portalTrigger;
        std::optional<std::string> inEffect;
    } cases[] = {
        {held, std::nullopt, "Ctrl+Alt+K"},
        {held, "Meta+S", "Ctrl+Alt+K"},
        {std::nullopt, "Ctrl+Alt+B", "Ctrl+Alt+B"},
        {std::nullopt, "Press Super+S", "Press Super+S"},
        {std::nullopt, "", std::nullopt},
        {std::nullopt, " \t", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.portalTrigger.value_or("(none)"));
        EXPECT_EQ(triggerInEffect(c.heldX11Key, c.portalTrigger), c.inEffect);
    }

    const auto named = texts(std::string("Ctrl+Alt+B"));
    for (const auto& text : {named.statusMenuTitle, named.bookmarksMenuTitle, named.tooltip, named.hint}) {
        EXPECT_NE(text.find("Ctrl+Alt+B"), std::string::npos) << text;
    }

    const auto none = texts(std::nullopt);
    for (const auto& text : {none.statusMenuTitle, none.bookmarksMenuTitle, none.tooltip, none.hint}) {
        EXPECT_EQ(text.find("Ctrl"), std::string::npos) << text;
    }
    EXPECT_NE(none.hint.find("tolvar --quick-save"), std::string::npos);
}

// Accelerators as stored and as pressed: what they grab, how they are named, and which are refused.
TEST(QuickSaveShortcut, AcceleratorsAreReadNamedAndChecked) {
    const struct {
        const char* text;
        std::optional<std::string> accelerator;  // nothing: not an accelerator
        std::string label;
        bool refused;
    } cases[] = {
        {"<Ctrl><Alt>B", "<Ctrl><Alt>B", "Ctrl+Alt+B", false},
        {"<Primary><Alt>k", "<Ctrl><Alt>K", "Ctrl+Alt+K", false},
        {"<Super>space", "<Super>space", "Super+Space", false},
        {"<Shift><Mod4>F5", "<Shift><Super>F5", "Shift+Super+F5", false},
        {"<Shift>k", "<Shift>K", "Shift+K", true},
        {"k", "K", "K", true},
        {"<Hyper>k", std::nullopt, "", false},
        {"<Ctrl><Alt>", std::nullopt, "", false},
        {"<Ctrl><Alt>B;", std::nullopt, "", false},
        {"", std::nullopt, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto combination = parseAccelerator(c.text);
        ASSERT_EQ(combination.has_value(), c.accelerator.has_value());
        if (!combination) continue;
        EXPECT_EQ(combination->accelerator(), *c.accelerator);
        EXPECT_EQ(combination->label(), c.label);
        EXPECT_EQ(refusal(*combination).has_value(), c.refused);
    }

    EXPECT_EQ(chosenCombination(std::string("<Ctrl><Alt>k")).label(), "Ctrl+Alt+K");
    for (const auto& unusable : {std::optional<std::string>(), std::optional<std::string>("k"),
                                 std::optional<std::string>("nonsense<")}) {
        EXPECT_EQ(chosenCombination(unusable).accelerator(), x11Accelerator);
    }
}

}  // namespace
