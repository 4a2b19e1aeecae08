#include <gtest/gtest.h>

#include "app/ApplicationPage.h"
#include "app/LoadFailure.h"
#include "tests/support/RecordingServices.h"

namespace {

using platform::LoadError;

TEST(LoadFailure, WhichFailuresShowThePageAndWhichAreRetried) {
    struct Case {
        LoadError error;
        bool showsPage;
        bool retries;
    };
    const Case cases[] = {
        {LoadError::cancelled, false, false},          {LoadError::becameDownload, false, false},
        {LoadError::cannotResolveHost, true, true},    {LoadError::cannotConnect, true, true},
        {LoadError::networkUnavailable, true, true},   {LoadError::timedOut, true, true},
        {LoadError::connectionLost, true, true},       {LoadError::certificateRejected, true, false},
        {LoadError::other, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadFailure::showsPage(c.error), c.showsPage) << int(c.error);
        EXPECT_EQ(LoadFailure::retriesByItself(c.error), c.retries) << int(c.error);
    }
}

TEST(LoadFailure, RetryPausesDoubleFromTwoSecondsUpToFiveMinutes) {
    std::vector<double> pauses;
    for (int attempt = 0; attempt <= 10; ++attempt) pauses.push_back(LoadFailure::retryPause(attempt));
    EXPECT_EQ(pauses, (std::vector<double>{2, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300}));
    EXPECT_EQ(LoadFailure::retryPause(1000000), 300);
}

TEST(LoadFailure, PageNamesTheHostAndCarriesTheErrorText) {
    const auto offline = LoadFailure::pageText(LoadError::cannotResolveHost, "https://Web.Tolvar.App/app",
                                               "Name or service not known");
    EXPECT_EQ(offline.heading, "Tolvar can't reach web.tolvar.app");
    EXPECT_NE(offline.message.find("\nName or service not known\n"), std::string::npos) << offline.message;
    const auto other = LoadFailure::pageText(LoadError::other, "weird:thing", "");
    EXPECT_EQ(other.heading, "Tolvar can't open weird:thing");
}

TEST(LoadFailure, RecoveryShowsThePageAndRetriesWhenTheNetworkComesBack) {
    testsupport::FakeWebView view;
    LoadFailure::Recovery recovery(view);
    const std::string app = "https://web.tolvar.app/app";

    recovery.loadFailed(app, LoadError::cancelled, "");
    EXPECT_TRUE(view.pages.empty());
    recovery.networkChanged(true);
    EXPECT_TRUE(view.loads.empty());

    recovery.loadFailed(app, LoadError::cannotResolveHost, "Error resolving");
    ASSERT_EQ(view.pages.size(), 1u);
    EXPECT_EQ(view.pages[0].second, app);
    EXPECT_NE(view.pages[0].first.find("Tolvar can&#39;t reach web.tolvar.app"), std::string::npos);
    recovery.networkChanged(false);
    EXPECT_TRUE(view.loads.empty());
    recovery.networkChanged(true);
    EXPECT_EQ(view.loads, std::vector<std::string>{app});

    // Once a page loads, a network change asks for nothing more.
    recovery.loadSucceeded();
    recovery.networkChanged(true);
    EXPECT_EQ(view.loads.size(), 1u);

    // A rejected certificate shows the page and ends the tries.
    recovery.loadFailed(app, LoadError::timedOut, "");
    recovery.loadFailed(app, LoadError::certificateRejected, "");
    EXPECT_EQ(view.pages.size(), 3u);
    recovery.networkChanged(true);
    EXPECT_EQ(view.loads.size(), 1u);
}

TEST(ApplicationPage, EscapesEveryTextAndKeepsOneReloadButton) {
    const std::string page = ApplicationPage::render("<b>&\"'", "line <1>\n\nline 2", "Try <Again>");
    EXPECT_NE(page.find("<h1>&lt;b&gt;&amp;&quot;&#39;</h1>"), std::string::npos) << page;
    EXPECT_NE(page.find("<p>line &lt;1&gt;</p><p>line 2</p>"), std::string::npos) << page;
    EXPECT_NE(page.find("onclick=\"location.reload()\">Try &lt;Again&gt;</button>"), std::string::npos) << page;
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("prefers-color-scheme: dark"), std::string::npos);
}

}  // namespace
