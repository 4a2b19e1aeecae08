#include "update/UpdateCheck.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "automation/E2E.h"
#include "platform/Bundle.h"
#include "core/Environment.h"

using namespace UpdateCheck;

namespace {
const std::optional<std::string> none = std::nullopt;
}

TEST(UpdateCheckFeed, OverrideCountsOnlyInAutomationModeAndOnlyWhenItIsAnAddress) {
    const struct {
        std::string name;
        bool automation;
        std::optional<std::string> value;
        std::string expected;
    } cases[] = {
        {"automation, loopback feed", true, "http://127.0.0.1:8765/downloads/version.json",
         "http://127.0.0.1:8765/downloads/version.json"},
        {"automation, any scheme and host", true, "file:///tmp/feed.json", "file:///tmp/feed.json"},
        {"automation, no variable", true, none, defaultFeed()},
        {"automation, not an address", true, "not an address", defaultFeed()},
        {"automation, broken authority", true, "http://[::1/feed", defaultFeed()},
        {"no automation", false, "http://127.0.0.1:8765/downloads/version.json", defaultFeed()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detail::feed(c.automation, c.value), c.expected);
    }
}

TEST(UpdateCheckCurrentVersion, PretendVersionInAutomationThenTheBundlesThenZero) {
    EXPECT_EQ(detail::currentVersion(true, "9.9", "1.4.2"), "9.9");
    EXPECT_EQ(detail::currentVersion(true, "", "1.4.2"), "");
    EXPECT_EQ(detail::currentVersion(true, none, "1.4.2"), "1.4.2");
    EXPECT_EQ(detail::currentVersion(false, "9.9", "1.4.2"), "1.4.2");
    EXPECT_EQ(detail::currentVersion(false, none, none), "0");
}

TEST(UpdateCheckTrustedHost, TheServiceDomainOnWholeLabelsAndLoopbackOnlyInAutomation) {
    const struct {
        std::optional<std::string> url;
        bool outsideAutomation;
        bool inAutomation;
    } cases[] = {
        {none, false, false},
        {"file:///Users/x/Tolvar.zip", false, false},
        {"not an address at all", false, false},
        {"https://", false, false},
        {"https://tolvar.app/download", true, true},
        {"https://web.tolvar.app/downloads/Tolvar.zip", true, true},
        {"https://a.b.tolvar.app:8443/x?y#z", true, true},
        {"ftp://tolvar.app/", true, true},  // the scheme is not looked at
        {"https://WEB.Tolvar.APP/", true, true},
        {"https://xn--bcher-kva.tolvar.app/", true, true},
        // Ending in the same letters is not enough: the domain must start a label.
        {"https://eviltolvar.app/", false, false},
        {"https://tolvar.app.evil.example/", false, false},
        {"https://tolvar.apps/", false, false},
        {"https://evil.example/tolvar.app", false, false},
        {"https://evil.example/?.tolvar.app", false, false},
        {"https://tolvar.app@evil.example/", false, false},
        {"https://evil.example\\@tolvar.app/", false, false},
        {"https://evil.example%2F.tolvar.app/", false, false},
        // Characters that a browser and the HTTP stack read differently.
        {"https://tolvar.app\t.evil.example/", false, false},
        {std::string("https://tolvar.app\0.evil.example/", 33), false, false},
        {"https://.tolvar.app/", false, false},
        {"https://a..tolvar.app/", false, false},
        {"https://tolvar.app./", false, false},
        // Loopback: only the literal 127.0.0.1, only in automation mode.
        {"http://127.0.0.1:8765/Tolvar.zip", false, true},
        {"http://localhost:8765/", false, false},
        {"http://127.0.0.2/", false, false},
        {"http://127.1/", false, false},
        {"http://[::1]/", false, false},
        {"http://127.0.0.1.evil.example/", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.value_or("<nothing>"));
        EXPECT_EQ(detail::trustedHost(c.url, false), c.outsideAutomation);
        EXPECT_EQ(detail::trustedHost(c.url, true), c.inAutomation);
    }
}

// These read the real process state; CTest runs them once without and once with automation mode.
TEST(UpdateCheckProcessState, WrappersFollowTheAutomationSwitch) {
    const bool automation = E2E::enabled();
    const std::string loopbackFeed = "http://127.0.0.1:8765/downloads/version.json";
    ASSERT_EQ(setenv("TOLVAR_UPDATE_FEED", loopbackFeed.c_str(), 1), 0);
    ASSERT_EQ(setenv("TOLVAR_E2E_PRETEND_VERSION", "7.7.7", 1), 0);

    EXPECT_EQ(feed(), automation ? loopbackFeed : defaultFeed());
    EXPECT_EQ(trustedHost(loopbackFeed), automation);
    EXPECT_TRUE(trustedHost(std::string("https://web.tolvar.app/x.zip")));
    EXPECT_EQ(currentVersion() == "7.7.7", automation);

    // The environment is read anew on every call.
    ASSERT_EQ(unsetenv("TOLVAR_UPDATE_FEED"), 0);
    ASSERT_EQ(unsetenv("TOLVAR_E2E_PRETEND_VERSION"), 0);
    EXPECT_EQ(feed(), defaultFeed());
    // The test program does not run inside a bundle, so it has no version of its own.
    if (!platform::runningBundleDir()) {
        EXPECT_EQ(currentVersion(), "0");
    }
}
