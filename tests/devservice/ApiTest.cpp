#include "ServiceFixture.h"

namespace {

class DevserviceApi : public DevserviceProcess {
protected:
    void SetUp() override { start(); }

    // The message of the error element of a reply, or "" when there is none.
    static std::string errorMessage(const devtest::HttpReply& reply) {
        const auto json = reply.json();
        if (!json.is_array() || json.empty() || !json[0].is_object()) return "";
        const auto& first = json[0];
        if (!first.contains("error") || !first["error"].contains("json")) return "";
        const auto& message = first["error"]["json"]["message"];
        return message.is_string() ? message.get<std::string>() : "";
    }

    static nlohmann::json resultOf(const devtest::HttpReply& reply) {
        const auto json = reply.json();
        if (!json.is_array() || json.empty()) return nullptr;
        return json[0]["result"]["data"]["json"];
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

TEST_F(DevserviceApi, BadBodiesAnswer400WithAMessageAndStoreNothing) {
    std::vector<std::string> tooManyTags;
    for (int i = 0; i < 33; ++i) tooManyTags.push_back("tag" + std::to_string(i));
    std::string longTitle;
    for (int i = 0; i < 513; ++i) longTitle += "e\xCC\x81";
    const std::vector<std::string> bodies = {
        "not json",
        "",
        "[]",
        "null",
        R"({"0":{"json":"https://example.org"}})",
        R"({"json":{"url":"https://example.org"}})",
        createBody(nlohmann::json::object()),
        createBody({{"url", 42}}),
        createBody({{"url", "file:///etc/passwd"}}),
        createBody({{"url", "ftp://example.org/"}}),
        createBody({{"url", "javascript:alert(1)"}}),
        createBody({{"url", "https://"}}),
        createBody({{"url", "https://example.org"}, {"title", longTitle}}),
        createBody({{"url", "https://example.org"}, {"title", false}}),
        createBody({{"url", "https://example.org"}, {"tags", {std::string(65, 'x')}}}),
        createBody({{"url", "https://example.org"}, {"tags", tooManyTags}}),
        createBody({{"url", "https://example.org"}, {"tags", "news"}}),
        createBody({{"url", "https://example.org"}, {"isReadLater", 1}}),
        "{\"0\":{\"json\":{\"url\":\"https://example.org/\xC3\x28\"}}}",
        std::string(100000, '{'),
    };
    for (const auto& body : bodies) {
        const auto reply = api("bookmarks.create", body);
        EXPECT_EQ(reply.status, 400) << body.substr(0, 100);
        EXPECT_FALSE(errorMessage(reply).empty()) << body.substr(0, 100) << " -> " << reply.body;
    }
    EXPECT_NE(errorMessage(api("bookmarks.create", createBody({{"url", "https://example.org"}, {"title", longTitle}})))
                  .find("512"),
              std::string::npos);
    EXPECT_TRUE(bookmarks().empty());
}

TEST_F(DevserviceApi, LimitsAreCountedInUserPerceivedCharacters) {
    std::string title;
    for (int i = 0; i < 512; ++i) title += "e\xCC\x81";
    std::string tag;
    for (int i = 0; i < 64; ++i) tag += "🇸🇪";
    const auto reply = api("bookmarks.create", createBody({{"url", "https://example.org"}, {"title", title}, {"tags", {tag}}}));
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(resultOf(reply)["title"], title);
    EXPECT_EQ(bookmarks().size(), 1u);
}

TEST_F(DevserviceApi, RefusesOtherMethodsMediaTypesAndUnbatchedCalls) {
    const auto body = createBody({{"url", "https://example.org"}});
    EXPECT_EQ(api("bookmarks.create", body, std::string(demoToken), "text/plain").status, 415);
    EXPECT_EQ(api("bookmarks.create", body, std::string(demoToken), "application/x-www-form-urlencoded").status, 415);
    EXPECT_EQ(api("bookmarks.create", body, std::string(demoToken), "application/json; charset=utf-8").status, 200);

    auto headers = cookie(demoToken);
    EXPECT_EQ(get("/api/trpc/bookmarks.create?batch=1", headers).status, 405);
    headers.emplace_back("Content-Type", "application/json");
    EXPECT_EQ(devtest::httpRequest(port(), "POST", "/api/trpc/bookmarks.create", headers, body).status, 400);
    EXPECT_EQ(devtest::httpRequest(port(), "POST", "/api/trpc/bookmarks.delete?batch=1", headers, body).status, 404);

    auto crossSite = headers;
    crossSite.emplace_back("Origin", "http://evil.example");
    const auto refused = devtest::httpRequest(port(), "POST", "/api/trpc/bookmarks.create?batch=1", crossSite,
                                              createBody({{"url", "https://example.org/cross"}}));
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(bookmarks().size(), 1u);
}

TEST_F(DevserviceApi, ListAnswersNewestFirst) {
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org/" + std::to_string(i)}})).status, 200);
    }
    const auto list = bookmarks();
    ASSERT_EQ(list.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(list[i]["url"], "https://example.org/" + std::to_string(4 - i));
}

TEST_F(DevserviceApi, SqlMetacharactersInEveryFieldAreStoredVerbatim) {
    const nlohmann::json input = {{"url", "https://example.org/?q=1';DROP%20TABLE%20bookmarks;--&x=\"%_"},
                                  {"title", "Robert'); DROP TABLE users; -- \" OR 1=1 \\ %"},
                                  {"tags", {"a'b", "\";DELETE FROM sessions;--", "%", "_", "\\"}},
                                  {"isReadLater", true}};
    const auto reply = api("bookmarks.create", createBody(input));
    ASSERT_EQ(reply.status, 200) << reply.body;

    ASSERT_EQ(postForm("/app/bookmarks/new",
                       "url=https%3A%2F%2Fexample.org%2F%27%3B--&title=%27%29%3B+DROP+TABLE+bookmarks%3B--&tags=%27%3B--",
                       cookie(demoToken))
                  .status,
              303);

    const auto list = bookmarks();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["url"], "https://example.org/';--");
    EXPECT_EQ(list[0]["title"], "'); DROP TABLE bookmarks;--");
    EXPECT_EQ(list[0]["tags"], nlohmann::json::array({"';--"}));
    EXPECT_EQ(list[1]["url"], input["url"]);
    EXPECT_EQ(list[1]["title"], input["title"]);
    EXPECT_EQ(list[1]["tags"], input["tags"]);
    EXPECT_EQ(resultOf(api("bookmarks.create", createBody(input)))["alreadyExists"], true);

    // Cookie values with SQL in them are just unknown sessions.
    EXPECT_EQ(api("bookmarks.create", createBody({{"url", "https://e.org"}}), std::string("x'OR'1'='1")).status, 401);
    EXPECT_EQ(signIn("demo%27--", "x"), "");
    EXPECT_EQ(signIn("%27+OR+1%3D1--", "%27+OR+1%3D1--"), "");
    EXPECT_FALSE(signIn("demo", "tolvar-demo").empty());
    EXPECT_EQ(bookmarks().size(), 2u);
}

TEST_F(DevserviceApi, ConcurrentClientsDoNotCorruptTheStore) {
    constexpr int threads = 6;
    constexpr int perThread = 8;
    std::atomic<int> failures{0};
    std::atomic<int> fresh{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const auto own = api("bookmarks.create",
                                     createBody({{"url", "https://example.org/" + std::to_string(t) + "/" + std::to_string(i)}}));
                if (own.status != 200) ++failures;
                const auto shared = api("bookmarks.create", createBody({{"url", "https://example.org/shared"}}));
                if (shared.status != 200) ++failures;
                if (resultOf(shared)["alreadyExists"] == false) ++fresh;
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(fresh, 1) << "exactly one of the racing creates stored the shared address";
    EXPECT_EQ(bookmarks().size(), static_cast<std::size_t>(threads * perThread + 1));
}

}  // namespace
