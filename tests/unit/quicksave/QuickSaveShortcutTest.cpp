#include "quicksave/QuickSaveShortcut.h"

#include <gtest/gtest.h>

#include "quicksave/GnomeShortcut.h"

namespace {

using namespace QuickSaveShortcut;

TEST(QuickSaveShortcut, OnlyATriggerInEffectIsNamed) {
    EXPECT_TRUE(shouldAskPortal(false, true));
    EXPECT_FALSE(shouldAskPortal(true, true));
    EXPECT_FALSE(shouldAskPortal(false, false));

    const std::optional<std::string> held = "Ctrl+Alt+K";
    const std::optional<std::string> absent;
    const struct {
        std::optional<std::string> heldX11Key;
        std::optional<std::string> portalTrigger;
        std::optional<std::string> gnomeTrigger;
        std::optional<std::string> inEffect;
    } cases[] = {
        {held, absent, absent, "Ctrl+Alt+K"},
        {held, "Meta+S", "Super+B", "Ctrl+Alt+K"},
        {absent, "Ctrl+Alt+B", "Super+B", "Ctrl+Alt+B"},
        {absent, "Press Super+S", absent, "Press Super+S"},
        {absent, "", absent, absent},
        {absent, " \t", absent, absent},
        {absent, " \t", "Super+B", "Super+B"},
        {absent, absent, "Ctrl+Alt+B", "Ctrl+Alt+B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.portalTrigger.value_or("(none)") + " / " + c.gnomeTrigger.value_or("(none)"));
        EXPECT_EQ(triggerInEffect(c.heldX11Key, c.portalTrigger, c.gnomeTrigger), c.inEffect);
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

// GNOME's custom shortcuts: the entry added beside the user's own, never twice, never over a
// binding already taken; the trigger as the stored binding names it.
TEST(GnomeShortcut, EntryIsAddedBesideOthersOnceAndNamed) {
    using platform::GnomeKeybinding;
    const std::string prefix(GnomeShortcut::pathPrefix);
    const std::string ours = GnomeShortcut::command("/home/a b/Tolvar.app/bin/tolvar");
    EXPECT_EQ(ours, "'/home/a b/Tolvar.app/bin/tolvar' --quick-save");
    EXPECT_EQ(GnomeShortcut::command("/opt/tolvar/Tolvar.app/bin/tolvar"), "/opt/tolvar/Tolvar.app/bin/tolvar --quick-save");
    EXPECT_EQ(GnomeShortcut::command("/it's/tolvar"), "'/it'\\''s/tolvar' --quick-save");

    const GnomeKeybinding terminal{prefix + "0/", "Terminal", "gnome-terminal", "<Super>t"};
    const GnomeKeybinding notes{prefix + "2/", "Notes", "gnote", "<Primary><Shift>n"};
    const auto added = GnomeShortcut::planAddition({terminal, notes}, ours);
    ASSERT_TRUE(added.entry);
    EXPECT_EQ(*added.entry, (GnomeKeybinding{prefix + "1/", "Tolvar quick save", ours, "<Primary><Alt>b"}));
    EXPECT_EQ(added.message, "");

    const auto again = GnomeShortcut::planAddition({terminal, *added.entry, notes}, ours);
    EXPECT_FALSE(again.entry);
    EXPECT_EQ(again.message, "");

    // Another program's entry (an older copy's too) already takes Ctrl+Alt+B, in any spelling.
    const GnomeKeybinding taken{prefix + "1/", "Bookmarks", "other --save", "<Control><Alt>B"};
    const auto refused = GnomeShortcut::planAddition({terminal, taken}, ours);
    EXPECT_FALSE(refused.entry);
    EXPECT_EQ(refused.message, "Ctrl+Alt+B is already used by “Bookmarks” in GNOME's keyboard shortcuts, so nothing was added.");

    auto changed = *added.entry;
    EXPECT_EQ(GnomeShortcut::trigger({terminal, changed}, ours), "Ctrl+Alt+B");
    changed.binding = "<Super>b";
    EXPECT_EQ(GnomeShortcut::trigger({terminal, changed}, ours), "Super+B");
    changed.binding = "";  // disabled in GNOME's Settings
    EXPECT_EQ(GnomeShortcut::trigger({terminal, changed}, ours), std::nullopt);
    EXPECT_EQ(GnomeShortcut::trigger({terminal, taken}, ours), std::nullopt);
}

}  // namespace
