#include <gtest/gtest.h>

#include "app/ServiceAddress.h"
#include "tests/support/RecordingServices.h"
#include "update/UpdateCheck.h"

namespace {

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

// Pointing Tolvar at another server never changes where its updates come from.
TEST(ServiceAddress, TheEnvironmentWinsOverTheStoredAddressAndTheUpdateFeedFollowsNeither) {
    testsupport::RecordingServices services;
    const auto configured = [] { return ServiceAddress::configured().page("/app"); };
    EXPECT_EQ(configured(), "https://web.tolvar.app/app");
    services.settings[std::string(ServiceAddress::settingKey)] = "http://stored.example";
    EXPECT_EQ(configured(), "http://stored.example/app");
    services.environment[std::string(ServiceAddress::variable)] = "http://127.0.0.1:8080";
    EXPECT_EQ(configured(), "http://127.0.0.1:8080/app");
    services.environment[std::string(ServiceAddress::variable)] = "";  // set, even empty, it wins: refused
    EXPECT_EQ(configured(), "https://web.tolvar.app/app");
    EXPECT_EQ(UpdateCheck::feed(), "https://web.tolvar.app/downloads/version.json");
}

}  // namespace
