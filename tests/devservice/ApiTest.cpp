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

TEST_F(DevserviceApi, WithoutASessionEveryCallAnswersUnauthorized) {
    const auto body = createBody({{"url", "https://example.org"}});
    for (const auto& token : std::vector<std::optional<std::string>>{std::nullopt, std::string("unknown"), std::string("")}) {
        for (const std::string procedure : {"bookmarks.create", "bookmarks.fetchMetadata"}) {
            const auto reply = api(procedure, body, token);
            EXPECT_EQ(reply.status, 401) << procedure;
            EXPECT_EQ(reply.header("Content-Type"), "application/json");
            EXPECT_EQ(errorMessage(reply), "UNAUTHORIZED") << reply.body;
        }
    }
    const auto list = get("/api/trpc/bookmarks.list?batch=1");
    EXPECT_EQ(list.status, 401);
    EXPECT_EQ(errorMessage(list), "UNAUTHORIZED");
    EXPECT_TRUE(bookmarks().empty());
}

TEST_F(DevserviceApi, CreateStoresAndASecondCreateReportsAlreadyExists) {
    const auto first = api("bookmarks.create",
                           R"({"0":{"json":{"url":"https://example.org/a","title":"Example","tags":["news","Tech"],"isReadLater":true}}})");
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(first.header("Content-Type"), "application/json");
    const auto created = resultOf(first);
    EXPECT_EQ(created["alreadyExists"], false);
    EXPECT_EQ(created["url"], "https://example.org/a");
    EXPECT_EQ(created["title"], "Example");
    EXPECT_EQ(created["tags"], nlohmann::json::array({"news", "Tech"}));
    EXPECT_EQ(created["isReadLater"], true);
    EXPECT_TRUE(created["id"].is_number_integer());
    EXPECT_TRUE(created["createdAt"].is_string());

    const auto second = api("bookmarks.create", createBody({{"url", "https://example.org/a"}, {"title", "Changed"}}));
    ASSERT_EQ(second.status, 200);
    const auto again = resultOf(second);
    EXPECT_EQ(again["alreadyExists"], true);
    EXPECT_EQ(again["id"], created["id"]);
    EXPECT_EQ(again["title"], "Example");

    // Only the exact address counts as the same.
    const auto other = api("bookmarks.create", createBody({{"url", "https://example.org/a/"}}));
    EXPECT_EQ(resultOf(other)["alreadyExists"], false);

    const auto list = bookmarks();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["url"], "https://example.org/a/");
    EXPECT_EQ(list[1]["title"], "Example");
    EXPECT_EQ(list[1]["tags"], nlohmann::json::array({"news", "Tech"}));
}

// Each refusal of the call's reader is tested with the reader; here, that one becomes a 400.
TEST_F(DevserviceApi, BadBodiesAnswer400WithAMessageAndStoreNothing) {
    for (const std::string& body : {std::string("not json"), createBody({{"url", "ftp://example.org/"}})}) {
        const auto reply = api("bookmarks.create", body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_FALSE(errorMessage(reply).empty()) << reply.body;
    }
    EXPECT_TRUE(bookmarks().empty());
}

TEST_F(DevserviceApi, RefusesOtherMethodsMediaTypesAndUnbatchedCalls) {
    const auto body = createBody({{"url", "https://example.org"}});
    EXPECT_EQ(api("bookmarks.create", body, std::string(demoToken), "text/plain").status, 415);
    EXPECT_EQ(api("bookmarks.create", body, std::string(demoToken), "application/x-www-form-urlencoded").status, 415);
    EXPECT_EQ(api("bookmarks.create", body, std::string(demoToken), "application/json; charset=utf-8").status, 200);

    auto headers = cookie(demoToken);
    EXPECT_EQ(get("/api/trpc/bookmarks.create?batch=1", headers).status, 405);
    headers.emplace_back("Content-Type", "application/json");
    EXPECT_EQ(testsupport::httpRequest(port(), "POST", "/api/trpc/bookmarks.create", headers, body).status, 400);
    EXPECT_EQ(testsupport::httpRequest(port(), "POST", "/api/trpc/bookmarks.delete?batch=1", headers, body).status, 404);

    auto crossSite = headers;
    crossSite.emplace_back("Origin", "http://evil.example");
    const auto refused = testsupport::httpRequest(port(), "POST", "/api/trpc/bookmarks.create?batch=1", crossSite,
                                              createBody({{"url", "https://example.org/cross"}}));
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(bookmarks().size(), 1u);
}

}  // namespace
