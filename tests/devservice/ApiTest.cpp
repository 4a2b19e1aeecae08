#include "ServiceFixture.h"

namespace {

class DevserviceApi : public DevserviceProcess {
protected:
    void SetUp() override { start(); }

    // The message of the error element of a reply, or "" when there is none.
    static std::string errorMessage(const testsupport::HttpReply& reply) {
        const auto json = reply.json();
        const nlohmann::json::json_pointer message("/0/error/json/message");
        return json.contains(message) && json[message].is_string() ? json[message].get<std::string>() : "";
    }

    static nlohmann::json resultOf(const testsupport::HttpReply& reply) {
        const auto json = reply.json();
        return json.is_array() && !json.empty() ? json[0]["result"]["data"]["json"] : nlohmann::json();
    }
};

TEST_F(DevserviceApi, CreateStoresAndASecondCreateReportsAlreadyExists) {
    const auto first = api("bookmarks.create",
                           R"({"0":{"json":{"url":"https://example.org/a","title":"Example","tags":["news","Tech"],"isReadLater":true}}})",
                           std::string(demoToken), "application/json; charset=utf-8");
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(first.header("Content-Type"), "application/json");
    const auto created = resultOf(first);
    EXPECT_EQ(created["alreadyExists"], false);
    EXPECT_EQ(created["tags"], nlohmann::json::array({"news", "Tech"}));
    EXPECT_EQ(created["isReadLater"], true);
    EXPECT_TRUE(created["id"].is_number_integer());
    EXPECT_TRUE(created["createdAt"].is_string());

    const auto again = resultOf(api("bookmarks.create", createBody({{"url", "https://example.org/a"}, {"title", "Changed"}})));
    EXPECT_EQ(again["alreadyExists"], true);
    EXPECT_EQ(again["id"], created["id"]);
    EXPECT_EQ(again["title"], "Example");

    // Only the exact address counts as the same.
    EXPECT_EQ(resultOf(api("bookmarks.create", createBody({{"url", "https://example.org/a/"}})))["alreadyExists"], false);
    const auto list = bookmarks();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["url"], "https://example.org/a/");
    EXPECT_EQ(list[1]["tags"], nlohmann::json::array({"news", "Tech"}));
}

// Each refusal of the call's reader is tested with the reader; here, how each kind of refusal is answered.
TEST_F(DevserviceApi, RefusedCallsAnswerTheirStatusWithAMessageAndStoreNothing) {
    const std::string create = "/api/trpc/bookmarks.create?batch=1";
    const std::string session = "tolvar_session=" + std::string(demoToken);
    const std::string json = "application/json";
    const auto body = createBody({{"url", "https://example.org"}});
    const struct {
        std::string method, target, cookie, contentType, origin, body;
        int status;
    } cases[] = {
        {"POST", create, "", json, "", body, 401},
        {"POST", create, "tolvar_session=unknown", json, "", body, 401},
        {"POST", "/api/trpc/bookmarks.fetchMetadata?batch=1", "tolvar_session=", json, "", body, 401},
        {"GET", "/api/trpc/bookmarks.list?batch=1", "", "", "", "", 401},
        {"POST", create, session, "text/plain", "", body, 415},
        {"POST", create, session, "application/x-www-form-urlencoded", "", body, 415},
        {"GET", create, session, "", "", "", 405},
        {"POST", "/api/trpc/bookmarks.create", session, json, "", body, 400},
        {"POST", "/api/trpc/bookmarks.delete?batch=1", session, json, "", body, 404},
        {"POST", create, session, json, "http://evil.example", body, 403},
        {"POST", create, session, json, "", "not json", 400},
        {"POST", create, session, json, "", createBody({{"url", "ftp://example.org/"}}), 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " " + c.target + " " + c.contentType + " " + c.origin + " " + c.body);
        testsupport::Headers headers;
        if (!c.cookie.empty()) headers.emplace_back("Cookie", c.cookie);
        if (!c.contentType.empty()) headers.emplace_back("Content-Type", c.contentType);
        if (!c.origin.empty()) headers.emplace_back("Origin", c.origin);
        const auto reply = testsupport::httpRequest(port(), c.method, c.target, headers, c.body);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.header("Content-Type"), "application/json");
        EXPECT_EQ(errorMessage(reply).empty(), false) << reply.body;
        if (c.status == 401) {
            EXPECT_EQ(errorMessage(reply), "UNAUTHORIZED");
        }
    }
    EXPECT_TRUE(bookmarks().empty());
}

}  // namespace
