#include <gtest/gtest.h>

#include "app/Downloads.h"

namespace {

namespace fs = std::filesystem;

TEST(Downloads, SuggestedNamesStayDirectlyInsideTheAutomationFolder) {
    const fs::path dir = "/tmp/e2e";
    const std::pair<const char*, const char*> cases[] = {  // suggested, the name it is saved under
        {"report.pdf", "download-report.pdf"},
        {"résumé – 東京 (v2).tar.gz", "download-résumé – 東京 (v2).tar.gz"},
        {"../../etc/passwd", "download-passwd"},
        {"/etc/passwd", "download-passwd"},
        {"folder/sub/report.pdf", "download-report.pdf"},
        {"..", "download-.."},
        {"../", "download-.."},
        {".", "download-."},
        {"", "download-"},
        {"/", "download-"},
        {"reports/", "download-reports"},
        {"a/..", "download-.."},
        {"..\\..\\windows.ini", "download-..\\..\\windows.ini"},  // a backslash is an ordinary character here
    };
    for (const auto& [suggested, expectedName] : cases) {
        // A file directly inside the automation folder, named by one plain component.
        EXPECT_EQ(Downloads::automationDestination(dir, suggested), dir / expectedName) << suggested;
    }
}

TEST(Downloads, OverlongNamesAreShortenedKeepingExtensionAndCharacters) {
    const std::string stem(300, 'x');
    const auto name = Downloads::automationDestination("/d", stem + ".pdf").filename().string();
    EXPECT_EQ(name.size(), 255u);
    EXPECT_TRUE(name.ends_with("x.pdf")) << name;

    // A name of two-byte characters is cut between characters, never inside one.
    std::string umlauts;
    for (int i = 0; i < 200; ++i) umlauts += "ü";
    const auto cut = Downloads::plainFileName(umlauts);
    EXPECT_LE(cut.size() + 9, 255u);
    EXPECT_EQ(cut.size() % 2, 0u);
    EXPECT_EQ(cut, umlauts.substr(0, cut.size()));

    // Names that fit are untouched.
    EXPECT_EQ(Downloads::plainFileName(std::string(246, 'y')), std::string(246, 'y'));
    EXPECT_EQ(Downloads::plainFileName(std::string(247, 'y')).size(), 246u);
}

TEST(Downloads, AutomationUploadPathAndItsJournalName) {
    EXPECT_EQ(Downloads::automationUpload("/data/photo.png", "/work"), fs::path("/data/photo.png"));
    EXPECT_EQ(Downloads::automationUpload("fixtures/photo.png", "/work"), fs::path("/work/fixtures/photo.png"));
    EXPECT_EQ(Downloads::automationUpload("", "/work"), fs::path("/work"));

    EXPECT_EQ(Downloads::lastPathComponent("/data/photo.png"), "photo.png");
    EXPECT_EQ(Downloads::lastPathComponent("/data/uploads/"), "uploads");
    EXPECT_EQ(Downloads::lastPathComponent("/"), "/");
}

}  // namespace
