#include <gtest/gtest.h>

#include <fstream>

#include "bundle/Description.h"
#include "bundle/Swap.h"
#include "bundle/Tools.h"
#include "tests/support/AppProcess.h"

namespace fs = std::filesystem;

TEST(BundleInfo, TheThreeTextFieldsOfAnObject) {
    const auto info = bundle::parseInfo(R"({"CFBundleIdentifier":"app.tolvar.desktop","CFBundleShortVersionString":" 2.0 beta ",
                                           "CFBundleExecutable":"bin/tolvar","Other":1})");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->identifier, "app.tolvar.desktop");
    EXPECT_EQ(info->version, " 2.0 beta ");  // kept as written
    EXPECT_EQ(info->executable, "bin/tolvar");
    EXPECT_EQ(bundle::parseInfo(R"({"CFBundleShortVersionString":1.4})")->version, "");
    EXPECT_EQ(bundle::parseInfo(R"({"CFBundleIdentifier":"app.tolvar.desktop"})")->version, "");
    for (const char* notAnObject : {R"(["CFBundleShortVersionString","1.4"])", "", "{", "\"text\""}) {
        EXPECT_FALSE(bundle::parseInfo(notAnObject)) << notAnObject;
    }
}

// Info.json is read only as a regular file of at most 1 MB inside the bundle.
TEST(BundleInfo, ReadsOnlyASmallRegularFile) {
    testsupport::TemporaryFolder folder;
    const fs::path real = folder.path() / "Real.app", linked = folder.path() / "Linked.app", large = folder.path() / "Large.app";
    for (const auto& bundle : {real, linked, large}) fs::create_directories(bundle);
    std::ofstream(real / "Info.json") << R"({"CFBundleShortVersionString":"2.0"})";
    fs::create_symlink(real / "Info.json", linked / "Info.json");
    std::ofstream(large / "Info.json") << R"({"CFBundleShortVersionString":"2.0", "x":")" << std::string(1 << 20, 'x') << "\"}";
    EXPECT_EQ(bundle::readInfo(real)->version, "2.0");
    EXPECT_FALSE(bundle::readInfo(linked));
    EXPECT_FALSE(bundle::readInfo(large));
    EXPECT_FALSE(bundle::readInfo(folder.path() / "Missing.app"));
}

TEST(BundleTools, TheTeamIsTheFirstTeamLineOfTheDescription) {
    EXPECT_EQ(bundle::teamFromDescription("Executable=x\nTeamIdentifier=ABC\nTeamIdentifier=DEF\n"), "ABC");
    EXPECT_EQ(bundle::teamFromDescription("\n\nTeamIdentifier=\n"), "");
    EXPECT_EQ(bundle::teamFromDescription("TeamIdentifier=not set\n"), std::nullopt);
    EXPECT_EQ(bundle::teamFromDescription("Identifier=TeamIdentifier=ABC\n"), std::nullopt);
    EXPECT_EQ(bundle::teamFromDescription(""), std::nullopt);
}

TEST(BundleSwap, StagedNamesAreFreshHiddenSiblingsOfTheInstalledBundle) {
    const fs::path staged = bundle::stagedSibling("/apps/Tolvar.app");
    EXPECT_EQ(staged.parent_path(), "/apps");
    EXPECT_TRUE(bundle::isSwapSibling("Tolvar.app", staged.filename().string())) << staged;
    EXPECT_NE(staged, bundle::stagedSibling("/apps/Tolvar.app"));
    EXPECT_TRUE(bundle::isSwapSibling("Tolvar.app", ".Tolvar.app.tolvar-previous-1234"));
    for (const char* other : {"Tolvar.app", ".Other.app.tolvar-staged-1", ".Tolvar.app.bak", "Tolvar.app.tolvar-staged-1"}) {
        EXPECT_FALSE(bundle::isSwapSibling("Tolvar.app", other)) << other;
    }
}
