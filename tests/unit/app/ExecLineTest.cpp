#include <gtest/gtest.h>

#include "install/Layout.h"

namespace {

TEST(ExecLine, QuotesArgumentsByTheDesktopEntryRules) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> table{
        {"/opt/tolvar/Tolvar.app/bin/tolvar", "/opt/tolvar/Tolvar.app/bin/tolvar"},
        {"/home/a b/tolvar", R"("/home/a b/tolvar")"},
        {"/home/100%/tolvar", "/home/100%%/tolvar"},
        {"/home/$HOME/\"q\"/`x`", R"("/home/\\$HOME/\\"q\\"/\\`x\\`")"},
        {"/home/back\\slash", R"("/home/back\\\\slash")"},
        {"", R"("")"},
        {"/home/line\nbreak", std::nullopt},
    };
    for (const auto& [argument, expected] : table) EXPECT_EQ(install::quoteExecArgument(argument), expected) << argument;

    const std::string bundled = "[Desktop Entry]\nExec=tolvar\nTryExec=tolvar\n[Desktop Action quick-save]\nExec=tolvar --quick-save\n";
    EXPECT_EQ(install::launcherEntryFor(bundled, "/home/a b/Tolvar.app/bin/tolvar"),
              "[Desktop Entry]\nExec=\"/home/a b/Tolvar.app/bin/tolvar\"\nTryExec=tolvar\n[Desktop Action quick-save]\n"
              "Exec=\"/home/a b/Tolvar.app/bin/tolvar\" --quick-save\n");
}

}  // namespace
