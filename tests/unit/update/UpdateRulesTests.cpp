#include "update/UpdateRules.h"

#include <gtest/gtest.h>

#include "update/SelfUpdate.h"

using namespace UpdateCheck;
using namespace std::chrono_literals;

namespace {

const Clock::time_point now = Clock::time_point{} + std::chrono::hours(24 * 365 * 54);

UpdateInfo feedRecord(std::string version, std::optional<std::string> zip, std::optional<std::string> notes = {}) {
    return UpdateInfo(std::move(version), "https://tolvar.app/download", std::move(notes), std::nullopt,
                      std::move(zip));
}

platform::HttpReply answer(int status, std::optional<std::string> body) {
    return {.error = std::nullopt, .isHttp = true, .status = status, .body = std::move(body)};
}

}  // namespace

TEST(UpdateDueRule, TwentyHoursAfterTheLastAcceptedFeed) {
    EXPECT_TRUE(detail::isDue(std::nullopt, now, false)) << "never checked";
    EXPECT_FALSE(detail::isDue(now - 19h - 59min, now, false));
    EXPECT_FALSE(detail::isDue(now - 20h + 1ms, now, false));
    EXPECT_TRUE(detail::isDue(now - 20h, now, false));
    EXPECT_TRUE(detail::isDue(now - 21h, now, false));
}

TEST(UpdateDueRule, ADateInTheFutureWaitsUntilThatDatePlusTwentyHours) {
    const auto future = now + 5h;
    EXPECT_FALSE(detail::isDue(future, now, false));
    EXPECT_FALSE(detail::isDue(future, future + 19h + 59min, false));
    EXPECT_TRUE(detail::isDue(future, future + 20h, false));
}

TEST(UpdateDueRule, AutomationModeAlwaysChecks) {
    EXPECT_TRUE(detail::isDue(now - 1min, now, true));
    EXPECT_TRUE(detail::isDue(now + 5h, now, true));
    EXPECT_TRUE(detail::isDue(std::nullopt, now, true));
}

TEST(UpdateSettingsDate, ReadsBackAsTheSameDate) {
    for (const auto date : {now, now + 123456789ns, Clock::time_point{}, now - 1h + 999999999ns}) {
        const auto text = detail::encodeDate(date);
        SCOPED_TRACE(text);
        ASSERT_TRUE(text.starts_with("date:"));
        const auto back = detail::decodeDate(text);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, date);
    }
    EXPECT_EQ(detail::encodeDate(Clock::time_point{} + 86400s + 3723s + 5ns), "date:1970-01-02T01:02:03.000000005Z");
}

TEST(UpdateSettingsDate, OtherTextIsNoDate) {
    for (const char* text : {"", "yesterday", "2024-05-01T12:00:00Z", "date:2024-13-01T12:00:00.000000000Z",
                             "date:2024-02-30T12:00:00.000000000Z", "date:2024-05-01T24:00:00.000000000Z",
                             "date:2024-05-01T12:00:00.000000000", "date:2024-05-01 12:00:00.000000000Z"}) {
        EXPECT_FALSE(detail::decodeDate(text).has_value()) << text;
    }
}

TEST(UpdateFeedAnswer, OnlyA200WithAValidFeedOnATrustedHostIsAccepted) {
    const std::string good = R"({"version":"2.0","url":"https://tolvar.app/download","zip":"https://dl.tolvar.app/T.zip"})";
    EXPECT_TRUE(detail::acceptedFeed(answer(200, good), false).has_value());
    EXPECT_FALSE(detail::acceptedFeed(answer(304, good), false).has_value());
    EXPECT_FALSE(detail::acceptedFeed(answer(404, good), false).has_value());
    EXPECT_FALSE(detail::acceptedFeed(answer(500, good), false).has_value());
    EXPECT_FALSE(detail::acceptedFeed(answer(200, std::nullopt), false).has_value());
    EXPECT_FALSE(detail::acceptedFeed(answer(200, ""), false).has_value());
    EXPECT_FALSE(detail::acceptedFeed(answer(200, "not json"), false).has_value());
    EXPECT_FALSE(detail::acceptedFeed({.error = "offline"}, false).has_value());
    // A download page on a host that only ends with the domain's letters fails the whole check,
    // even with a trusted archive.
    EXPECT_FALSE(detail::acceptedFeed(
        answer(200, R"({"version":"2.0","url":"https://eviltolvar.app/d","zip":"https://dl.tolvar.app/T.zip"})"), false));
    EXPECT_FALSE(detail::acceptedFeed(answer(200, R"({"version":"2.0","url":"http://127.0.0.1:9/d"})"), false));
    EXPECT_TRUE(detail::acceptedFeed(answer(200, R"({"version":"2.0","url":"http://127.0.0.1:9/d"})"), true));
}

TEST(UpdatePathChoice, TrustedZipAndWritableFolderInstallOtherwiseOffer) {
    const auto yes = [] { return true; };
    const auto no = [] { return false; };
    const auto install = detail::choosePath(feedRecord("2.0", "https://dl.tolvar.app/T.zip"), "1.0", false,
                                            std::nullopt, false, yes);
    EXPECT_EQ(install.path, detail::Path::install);
    EXPECT_EQ(install.zip, "https://dl.tolvar.app/T.zip");
    EXPECT_EQ(detail::choosePath(feedRecord("2.0", "https://dl.tolvar.app/T.zip"), "1.0", false, {}, false, no).path,
              detail::Path::offer);
    EXPECT_EQ(detail::choosePath(feedRecord("2.0", std::nullopt), "1.0", false, {}, false, yes).path,
              detail::Path::offer);
    EXPECT_EQ(detail::choosePath(feedRecord("2.0", "not an address"), "1.0", false, {}, false, yes).path,
              detail::Path::offer);
    EXPECT_EQ(detail::choosePath(feedRecord("2.0", "https://dl.eviltolvar.app/T.zip"), "1.0", false, {}, false, yes).path,
              detail::Path::offer);
    EXPECT_EQ(detail::choosePath(feedRecord("2.0", "http://127.0.0.1:8/T.zip"), "1.0", false, {}, false, yes).path,
              detail::Path::offer);
    EXPECT_EQ(detail::choosePath(feedRecord("2.0", "http://127.0.0.1:8/T.zip"), "1.0", false, {}, true, yes).path,
              detail::Path::install);
    EXPECT_EQ(detail::choosePath(feedRecord("1.0", "https://dl.tolvar.app/T.zip"), "1.0", true, {}, false, yes).path,
              detail::Path::upToDate);
    EXPECT_EQ(detail::choosePath(feedRecord("0.9", "https://dl.tolvar.app/T.zip"), "1.0", true, {}, false, yes).path,
              detail::Path::upToDate);
}

TEST(UpdatePathChoice, WritabilityIsAskedOnlyForAUsableZip) {
    int asked = 0;
    const auto count = [&] { ++asked; return true; };
    detail::choosePath(feedRecord("2.0", std::nullopt), "1.0", false, {}, false, count);
    detail::choosePath(feedRecord("2.0", "https://eviltolvar.app/T.zip"), "1.0", false, {}, false, count);
    EXPECT_EQ(asked, 0);
    detail::choosePath(feedRecord("2.0", "https://tolvar.app/T.zip"), "1.0", false, {}, false, count);
    EXPECT_EQ(asked, 1);
}

TEST(UpdatePathChoice, SkippedVersionSilencesAutomaticChecksOnly) {
    const auto yes = [] { return true; };
    const auto record = feedRecord("2.0", std::nullopt);
    EXPECT_EQ(detail::choosePath(record, "1.0", false, "2.0", false, yes).path, detail::Path::skipped);
    EXPECT_EQ(detail::choosePath(record, "1.0", true, "2.0", false, yes).path, detail::Path::offer);
    EXPECT_EQ(detail::choosePath(feedRecord("2.0", "https://tolvar.app/T.zip"), "1.0", true, "2.0", false, yes).path,
              detail::Path::install);
    // Another skipped version, or one that differs only in spelling, does not silence this one.
    EXPECT_EQ(detail::choosePath(record, "1.0", false, "2.0.0", false, yes).path, detail::Path::offer);
    EXPECT_EQ(detail::choosePath(record, "1.0", false, "1.9", false, yes).path, detail::Path::offer);
}

TEST(UpdateAfterInstall, RestartAskOrFallBack) {
    using detail::AfterInstall;
    EXPECT_EQ(detail::afterInstall(false, true, false, false), AfterInstall::relaunch);
    EXPECT_EQ(detail::afterInstall(false, false, true, false), AfterInstall::relaunch);
    EXPECT_EQ(detail::afterInstall(false, false, false, true), AfterInstall::relaunch);
    EXPECT_EQ(detail::afterInstall(false, false, false, false), AfterInstall::askToRestart);
    EXPECT_EQ(detail::afterInstall(true, true, false, false), AfterInstall::offer);
    EXPECT_EQ(detail::afterInstall(true, false, true, true), AfterInstall::nothing);
    EXPECT_EQ(detail::afterInstall(true, false, false, false), AfterInstall::nothing);
}

TEST(UpdateAlerts, TextsAndButtons) {
    const auto failed = detail::checkFailedAlert();
    EXPECT_EQ(failed.message, "Couldn't check for updates");
    EXPECT_EQ(failed.informative, "Please check your internet connection and try again.");
    EXPECT_EQ(failed.buttons, std::vector<std::string>{"OK"});

    const auto upToDate = detail::upToDateAlert("1.4.2");
    EXPECT_EQ(upToDate.message, "You're up to date");
    EXPECT_EQ(upToDate.informative, "Tolvar 1.4.2 is the latest version.");
    EXPECT_EQ(upToDate.buttons, std::vector<std::string>{"OK"});

    const std::string manual = "\n\nDownload the new version, unzip it, and run Tolvar.app/bin/tolvar --install to replace this one.";
    const auto offer = detail::offerAlert(feedRecord("2.0", std::nullopt, "Faster saves."), "1.4.2");
    EXPECT_EQ(offer.message, "Tolvar 2.0 is available");
    EXPECT_EQ(offer.informative, "You have 1.4.2.\n\nFaster saves." + manual);
    EXPECT_EQ(offer.buttons, (std::vector<std::string>{"Download", "Later", "Skip This Version"}));
    EXPECT_EQ(detail::offerAlert(feedRecord("2.0", std::nullopt), "1.4.2").informative, "You have 1.4.2." + manual);

    const auto installed = detail::installedAlert(feedRecord("2.0", std::nullopt, "Faster saves."));
    EXPECT_EQ(installed.message, "Tolvar 2.0 is installed");
    EXPECT_EQ(installed.informative, "Restart Tolvar now to start using it?\n\nFaster saves.");
    EXPECT_EQ(installed.buttons, (std::vector<std::string>{"Restart Now", "Later"}));
    EXPECT_EQ(detail::installedAlert(feedRecord("2.0", std::nullopt)).informative,
              "Restart Tolvar now to start using it?");
}

TEST(SelfUpdateTeam, FirstTeamLineOfTheDescription) {
    using SelfUpdate::detail::teamFromDescription;
    EXPECT_EQ(teamFromDescription("Executable=x\nTeamIdentifier=ABC\nTeamIdentifier=DEF\n"), "ABC");
    EXPECT_EQ(teamFromDescription("\n\nTeamIdentifier=\n"), "");
    EXPECT_EQ(teamFromDescription("TeamIdentifier=not set\n"), std::nullopt);
    EXPECT_EQ(teamFromDescription("Identifier=TeamIdentifier=ABC\n"), std::nullopt);
    EXPECT_EQ(teamFromDescription(""), std::nullopt);
}

TEST(SelfUpdateSwapNames, HiddenSiblingsOfTheInstalledBundle) {
    using SelfUpdate::detail::isSwapSibling;
    EXPECT_TRUE(isSwapSibling("Tolvar.app", ".Tolvar.app.tolvar-staged-1234"));
    EXPECT_TRUE(isSwapSibling("Tolvar.app", ".Tolvar.app.tolvar-previous-1234"));
    EXPECT_FALSE(isSwapSibling("Tolvar.app", "Tolvar.app"));
    EXPECT_FALSE(isSwapSibling("Tolvar.app", ".Other.app.tolvar-staged-1"));
    EXPECT_FALSE(isSwapSibling("Tolvar.app", ".Tolvar.app.bak"));
}

TEST(UpdateArchiveListing, LinksMustStayInsideTheirTopFolder) {
    using SelfUpdate::detail::listingHasUnsafeLink;
    const std::string head = "#mtree\n./Tolvar.app type=dir\n./Tolvar.app/bin type=dir\n";
    const std::vector<std::pair<std::string, bool>> cases = {
        {"./Tolvar.app/bin/a\\040file type=file\n", false},
        {"./Tolvar.app/bin/ok type=link link=../bin/a\\040file\n", false},
        {"./Tolvar.app/bin/ok type=link link=tolvar\n", false},
        {"./Tolvar.app/bin/abs type=link link=/etc/passwd\n", true},
        {"./Tolvar.app/bin/up type=link link=../../x\n", true},
        {"./Tolvar.app/bin/up type=link link=..\\057..\\057x\n", true},  // an escaped "/"
        {"./Tolvar.app/up type=link link=./../Tolvar.app/x\n", true},
        {"./top type=link link=Tolvar.app\n", false},
        {"./top type=link link=..\n", true},
        {"./Tolvar.app/none type=link\n", true},
    };
    for (const auto& [entry, unsafe] : cases) EXPECT_EQ(listingHasUnsafeLink(head + entry), unsafe) << entry;
}
