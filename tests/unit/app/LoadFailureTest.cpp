#include <gtest/gtest.h>

#include "app/ApplicationPage.h"
#include "app/LoadFailure.h"
#include "app/ServiceAddress.h"
#include "tests/support/RecordingServices.h"
#include "update/UpdateCheck.h"

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

TEST(ServiceAddress, ConfiguredAddressOrTheDefault) {
    struct Case {
        std::optional<std::string> configured;
        std::string appPage;  // "" when refused
        std::string host;
    };
    const Case cases[] = {
        {std::nullopt, "https://web.tolvar.app/app", "web.tolvar.app"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080/app", "127.0.0.1"},
        {"HTTPS://Tolvar.Example.org/", "https://tolvar.example.org/app", "tolvar.example.org"},
        {"https://example.org/tolvar//", "https://example.org/tolvar/app", "example.org"},
        {"http://[::1]:9000", "http://[::1]:9000/app", "::1"},
        {"", "", ""},
        {"ftp://example.org", "", ""},
        {"http:///no-host", "", ""},
        {"HTTPS:example.org", "", ""},
        {"example.org", "", ""},
        {"file:///srv/tolvar", "", ""},
        {"https://example.org/?x=1", "", ""},
        {"https://user@example.org", "", ""},
        {"javascript:alert(1)", "", ""},
    };
    for (const auto& c : cases) {
        const auto resolution = ServiceAddress::resolve(c.configured);
        const std::string label = c.configured.value_or("(unset)");
        if (c.appPage.empty()) {
            ASSERT_TRUE(resolution.refusal) << label;
            EXPECT_NE(resolution.refusal->find("\"" + *c.configured + "\""), std::string::npos) << *resolution.refusal;
            EXPECT_NE(resolution.refusal->find("using https://web.tolvar.app"), std::string::npos);
            EXPECT_EQ(resolution.address.page("/app"), "https://web.tolvar.app/app") << label;
        } else {
            EXPECT_FALSE(resolution.refusal) << label;
            EXPECT_EQ(resolution.address.page("/app"), c.appPage) << label;
            EXPECT_EQ(resolution.address.host, c.host) << label;
        }
    }
}

TEST(ServiceAddress, TheEnvironmentWinsOverTheStoredAddress) {
    using ServiceAddress::chosenText;
    EXPECT_EQ(chosenText("http://a.example", "http://b.example"), "http://a.example");
    EXPECT_EQ(chosenText("", "http://b.example"), "");
    EXPECT_EQ(chosenText(std::nullopt, "http://b.example"), "http://b.example");
    EXPECT_EQ(chosenText(std::nullopt, std::nullopt), std::nullopt);
}

// Pointing Tolvar at another server never changes where its updates come from.
TEST(ServiceAddress, UpdateFeedDoesNotFollowIt) {
    testsupport::RecordingServices services;
    services.settings[std::string(ServiceAddress::settingKey)] = "http://stored.example";
    setenv("TOLVAR_SERVICE_URL", "http://127.0.0.1:8080", 1);
    EXPECT_EQ(ServiceAddress::configured().page("/app"), "http://127.0.0.1:8080/app");
    EXPECT_EQ(UpdateCheck::feed(), "https://web.tolvar.app/downloads/version.json");
    unsetenv("TOLVAR_SERVICE_URL");
}

}  // namespace
