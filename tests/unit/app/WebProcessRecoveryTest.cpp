#include <gtest/gtest.h>

#include "app/WebProcessRecovery.h"

namespace {

using namespace std::chrono_literals;
using Action = WebProcessRecovery::Action;

TEST(WebProcessRecovery, ReloadsUntilTheProcessEndsThreeTimesWithinAMinute) {
    const auto start = WebProcessRecovery::Clock::time_point{} + 1000s;
    const struct {
        std::chrono::seconds after;  // since start
        Action expected;
    } endings[] = {
        {0s, Action::reload},
        {30s, Action::reload},
        {59s, Action::showFailurePage},     // third within a minute
        {61s, Action::showFailurePage},     // 30 s and 59 s are still recent
        {200s, Action::reload},             // all earlier ones are over a minute old
        {230s, Action::reload},
        {260s, Action::reload},             // the one exactly a minute earlier no longer counts
        {261s, Action::showFailurePage},
    };
    WebProcessRecovery recovery;
    for (const auto& ending : endings) {
        EXPECT_EQ(recovery.processEnded(start + ending.after), ending.expected) << ending.after.count();
    }
}

}  // namespace
