#include "update/UpdateRules.h"

#include <gtest/gtest.h>

#include "update/SelfUpdate.h"

using namespace UpdateRules;
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

TEST(UpdateDueRule, TwentyHoursAfterTheLastAcceptedFeedOrAlwaysInAutomation) {
    EXPECT_TRUE(isDue(std::nullopt, now, false)) << "never checked";
    EXPECT_FALSE(isDue(now - 20h + 1ms, now, false));
    EXPECT_TRUE(isDue(now - 20h, now, false));
    // A date in the future waits until that date plus twenty hours.
    EXPECT_FALSE(isDue(now + 5h, now + 5h + 19h + 59min, false));
    EXPECT_TRUE(isDue(now + 5h, now + 25h, false));
    EXPECT_TRUE(isDue(now - 1min, now, true));
    EXPECT_TRUE(isDue(now + 5h, now, true));
}

TEST(UpdateSettingsDate, ReadsBackAsTheSameDateAndNothingElse) {
    for (const auto date : {now, now + 123456789ns, Clock::time_point{}, now - 1h + 999999999ns}) {
        const auto text = encodeDate(date);
        SCOPED_TRACE(text);
        ASSERT_TRUE(text.starts_with("date:"));
        const auto back = decodeDate(text);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, date);
    }
    EXPECT_EQ(encodeDate(Clock::time_point{} + 86400s + 3723s + 5ns), "date:1970-01-02T01:02:03.000000005Z");
    // Any other text is no date.
    for (const char* text : {"", "yesterday", "2024-05-01T12:00:00Z", "date:2024-13-01T12:00:00.000000000Z",
                             "date:2024-02-30T12:00:00.000000000Z", "date:2024-05-01T24:00:00.000000000Z",
                             "date:2024-05-01T12:00:00.000000000", "date:2024-05-01 12:00:00.000000000Z"}) {
        EXPECT_FALSE(decodeDate(text).has_value()) << text;
    }
}

TEST(UpdateFeedAnswer, OnlyA200WithAValidFeedOnATrustedHostIsAccepted) {
    const std::string good = R"({"version":"2.0","url":"https://tolvar.app/download","zip":"https://dl.tolvar.app/T.zip"})";
    EXPECT_TRUE(acceptedFeed(answer(200, good), false).has_value());
    EXPECT_FALSE(acceptedFeed(answer(304, good), false).has_value());
    EXPECT_FALSE(acceptedFeed(answer(500, good), false).has_value());
    EXPECT_FALSE(acceptedFeed(answer(200, std::nullopt), false).has_value());
    EXPECT_FALSE(acceptedFeed(answer(200, ""), false).has_value());
    EXPECT_FALSE(acceptedFeed(answer(200, "not json"), false).has_value());
    EXPECT_FALSE(acceptedFeed({.error = "offline"}, false).has_value());
    // A download page on a host that only ends with the domain's letters fails the whole check,
    // even with a trusted archive.
    EXPECT_FALSE(acceptedFeed(
        answer(200, R"({"version":"2.0","url":"https://eviltolvar.app/d","zip":"https://dl.tolvar.app/T.zip"})"), false));
    EXPECT_FALSE(acceptedFeed(answer(200, R"({"version":"2.0","url":"http://127.0.0.1:9/d"})"), false));
    EXPECT_TRUE(acceptedFeed(answer(200, R"({"version":"2.0","url":"http://127.0.0.1:9/d"})"), true));
}

// A trusted zip and a writable folder install; otherwise the newer version is offered, or skipped
// by an automatic check when the user skipped exactly it. The folder is asked about only for a
// usable zip.
TEST(UpdatePathChoice, InstallOfferSkipOrUpToDate) {
    const struct {
        std::string version;
        std::optional<std::string> zip, skipped;
        bool manual, automation, writable;
        Path path;
        int asked;
    } cases[] = {
        {"2.0", "https://dl.tolvar.app/T.zip", {}, false, false, true, Path::install, 1},
        {"2.0", "https://dl.tolvar.app/T.zip", {}, false, false, false, Path::offer, 1},
        {"2.0", std::nullopt, {}, false, false, true, Path::offer, 0},
        {"2.0", "not an address", {}, false, false, true, Path::offer, 0},
        {"2.0", "https://dl.eviltolvar.app/T.zip", {}, false, false, true, Path::offer, 0},
        {"2.0", "http://127.0.0.1:8/T.zip", {}, false, false, true, Path::offer, 0},
        {"2.0", "http://127.0.0.1:8/T.zip", {}, false, true, true, Path::install, 1},
        {"1.0", "https://dl.tolvar.app/T.zip", {}, true, false, true, Path::upToDate, 0},
        {"2.0", std::nullopt, "2.0", false, false, true, Path::skipped, 0},
        {"2.0", std::nullopt, "2.0", true, false, true, Path::offer, 0},
        {"2.0", "https://tolvar.app/T.zip", "2.0", true, false, true, Path::install, 1},
        // Another skipped version, or one that differs only in spelling, does not silence this one.
        {"2.0", std::nullopt, "2.0.0", false, false, true, Path::offer, 0},
        {"2.0", std::nullopt, "1.9", false, false, true, Path::offer, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version + " " + c.zip.value_or("-") + " skipped " + c.skipped.value_or("-"));
        int asked = 0;
        const auto choice = choosePath(feedRecord(c.version, c.zip), "1.0", c.manual, c.skipped, c.automation, [&] {
            ++asked;
            return c.writable;
        });
        EXPECT_EQ(choice.path, c.path);
        EXPECT_EQ(asked, c.asked);
        if (c.path == Path::install) { EXPECT_EQ(choice.zip, *c.zip); }
    }
}

TEST(UpdateAfterInstall, RestartAskOrFallBack) {
    EXPECT_EQ(afterInstall(false, true, false, false), AfterInstall::relaunch);
    EXPECT_EQ(afterInstall(false, false, true, false), AfterInstall::relaunch);
    EXPECT_EQ(afterInstall(false, false, false, true), AfterInstall::relaunch);
    EXPECT_EQ(afterInstall(false, false, false, false), AfterInstall::askToRestart);
    EXPECT_EQ(afterInstall(true, true, false, false), AfterInstall::offer);
    EXPECT_EQ(afterInstall(true, false, true, true), AfterInstall::nothing);
    EXPECT_EQ(afterInstall(true, false, false, false), AfterInstall::nothing);
}

TEST(UpdateAlerts, NamesTheVersionsAndAddsTheNotesWhenThereAreAny) {
    EXPECT_EQ(checkFailedAlert().buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(upToDateAlert("1.4.2").informative, "Tolvar 1.4.2 is the latest version.");

    const auto offer = offerAlert(feedRecord("2.0", std::nullopt, "Faster saves."), "1.4.2");
    EXPECT_EQ(offer.message, "Tolvar 2.0 is available");
    EXPECT_TRUE(offer.informative.starts_with("You have 1.4.2.\n\nFaster saves.\n\n")) << offer.informative;
    EXPECT_EQ(offer.buttons, (std::vector<std::string>{"Download", "Later", "Skip This Version"}));
    EXPECT_EQ(offerAlert(feedRecord("2.0", std::nullopt), "1.4.2").informative.find("\n\n\n"), std::string::npos);

    const auto installed = installedAlert(feedRecord("2.0", std::nullopt, "Faster saves."));
    EXPECT_EQ(installed.message, "Tolvar 2.0 is installed");
    EXPECT_TRUE(installed.informative.ends_with("?\n\nFaster saves.")) << installed.informative;
    EXPECT_EQ(installed.buttons, (std::vector<std::string>{"Restart Now", "Later"}));
    EXPECT_EQ(installedAlert(feedRecord("2.0", std::nullopt)).informative.find('\n'), std::string::npos);
}

TEST(UpdateNotification, OnlyForTheRecordedRunningVersion) {
    EXPECT_EQ(updatedNotification("2.0", "2.0"), "Tolvar was updated to 2.0");
    EXPECT_EQ(updatedNotification("2.0", "1.0"), std::nullopt);  // the swap never happened
    EXPECT_EQ(updatedNotification("", ""), std::nullopt);
    EXPECT_EQ(updatedNotification(std::nullopt, "2.0"), std::nullopt);
}

TEST(InstallProgressView, ByteFiguresThenPhases) {
    using namespace InstallProgress;
    const struct {
        Progress progress;
        bool cancelling;
        std::string barText;
        std::optional<double> fraction;
        bool cancellable;
    } cases[] = {
        {{Phase::downloading, 0, 40'000'000}, false, "0 bytes of 40.0 MB", 0.0, true},
        {{Phase::downloading, 999, std::nullopt}, false, "999 bytes", std::nullopt, true},
        {{Phase::downloading, 850'999, 1'000'000}, false, "850 kB of 1.0 MB", 0.850999, true},
        {{Phase::downloading, 12'399'999, 40'000'000}, false, "12.3 MB of 40.0 MB", 0.31, true},
        {{Phase::downloading, 1'250'000'000, 2'000'000'000}, false, "1.2 GB of 2.0 GB", 0.625, true},
        {{Phase::downloading, 50, 40}, false, "50 bytes of 40 bytes", 1.0, true},
        {{Phase::verifying, 40, 40}, false, "Verifying…", std::nullopt, true},
        {{Phase::installing, 40, 40}, false, "Installing…", std::nullopt, false},
        {{Phase::downloading, 1'000, 40'000}, true, "Cancelling…", std::nullopt, false},
    };
    for (const auto& c : cases) {
        const auto view = viewOf("2.0", c.progress, c.cancelling);
        EXPECT_EQ(view.heading, "Updating to Tolvar 2.0");
        EXPECT_EQ(view.barText, c.barText);
        ASSERT_EQ(view.fraction.has_value(), c.fraction.has_value()) << c.barText;
        if (c.fraction) {
            EXPECT_NEAR(*view.fraction, *c.fraction, 1e-3) << c.barText;
        }
        EXPECT_EQ(view.cancellable, c.cancellable) << c.barText;
    }
}

TEST(SelfUpdateControl, ACancelHoldsOnlyUntilTheSwapBegins) {
    SelfUpdate::InstallControl beforeSwap;
    EXPECT_TRUE(beforeSwap.cancel());
    EXPECT_TRUE(beforeSwap.cancelled());
    EXPECT_TRUE(beforeSwap.download().cancelled());
    EXPECT_FALSE(beforeSwap.beginSwap());

    SelfUpdate::InstallControl swapping;
    EXPECT_TRUE(swapping.beginSwap());
    EXPECT_FALSE(swapping.cancel());
    EXPECT_FALSE(swapping.cancelled());
    EXPECT_FALSE(swapping.download().cancelled());
}
