#include <gtest/gtest.h>

#include <tuple>
#include <variant>

#include "devservice/Bookmarks.h"
#include "devservice/Credentials.h"
#include "devservice/Options.h"

using namespace devservice;

namespace {

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

std::string body(const nlohmann::json& input) { return nlohmann::json{{"0", {{"json", input}}}}.dump(); }

std::vector<std::string> numberedTags(int count) {
    std::vector<std::string> tags;
    for (int i = 0; i < count; ++i) tags.push_back("t" + std::to_string(i));
    return tags;
}

// Limits count user-perceived characters: 512 of two code points each, 64 emoji families.
TEST(DevserviceBookmarks, ReadsACreateCallWithItsOptionalFields) {
    const std::string url = "https://example.org/a";
    const auto title = repeat("e\xCC\x81", 512);
    const auto tag = repeat("👨‍👩‍👧", 64);
    const struct {
        std::string body;
        NewBookmark expected;
    } cases[] = {
        {R"({"0":{"json":{"url":"https://example.org/a","title":"Example","tags":["news","Tech"],"isReadLater":true,"extra":1}}})",
         {url, "Example", {"news", "Tech"}, true}},
        {body({{"url", url}}), {url, url, {}, false}},
        {body({{"url", "http://user:pw@host:8080/x"}}), {"http://user:pw@host:8080/x", "http://user:pw@host:8080/x", {}, false}},
        {body({{"url", "http://[::1]:8080/"}}), {"http://[::1]:8080/", "http://[::1]:8080/", {}, false}},
        {body({{"url", "https://bücher.example/ä"}}), {"https://bücher.example/ä", "https://bücher.example/ä", {}, false}},
        {body({{"url", url}, {"title", "  \n "}}), {url, url, {}, false}},
        {body({{"url", url}, {"title", title}}), {url, title, {}, false}},
        {body({{"url", url}, {"tags", {tag}}}), {url, url, {tag}, false}},
        {body({{"url", url}, {"tags", numberedTags(32)}}), {url, url, numberedTags(32), false}},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = parseCreateCall(text);
        ASSERT_TRUE(std::holds_alternative<NewBookmark>(parsed)) << std::get<InputError>(parsed).message;
        const auto& bookmark = std::get<NewBookmark>(parsed);
        EXPECT_EQ(std::tie(bookmark.url, bookmark.title, bookmark.tags, bookmark.readLater),
                  std::tie(expected.url, expected.title, expected.tags, expected.readLater))
            << text.substr(0, 80);
    }
}

TEST(DevserviceBookmarks, RefusesBadCreateCallsWithAMessage) {
    const auto url = nlohmann::json{{"url", "https://example.org"}};
    const auto with = [&url](const char* key, const nlohmann::json& value) {
        auto input = url;
        input[key] = value;
        return body(input);
    };
    const std::vector<std::pair<std::string, std::string>> cases = {  // the body, a part of the message
        {"not json", "not valid JSON"},
        {"", "not valid JSON"},
        {"[]", "batched call"},
        {"{}", "batched call"},
        {R"({"0":1})", "batched call"},
        {R"({"0":{}})", "batched call"},
        {R"({"0":{"json":[]}})", "batched call"},
        {R"({"json":{"url":"https://example.org"}})", "batched call"},
        {body(nlohmann::json::object()), "\"url\" is required"},
        {body({{"url", nullptr}}), "\"url\" is required"},
        {body({{"url", 5}}), "\"url\" must be a string"},
        {body({{"url", "ftp://example.org"}}), "http or https"},
        {body({{"url", "javascript:alert(1)"}}), "http or https"},
        {body({{"url", "https://"}}), "http or https"},
        {body({{"url", "example.org"}}), "http or https"},
        {body({{"url", "https://exa mple.org"}}), "http or https"},
        {body({{"url", "http:///path"}}), "http or https"},
        {body({{"url", "http://example.org/\n"}}), "http or https"},
        {body({{"url", "http://example.org:99999/"}}), "http or https"},
        {body({{"url", "http://[::1/"}}), "http or https"},
        {body({{"url", "https://example.org/" + std::string(9000, 'a')}}), "longer than 8192 bytes"},
        {with("title", 3), "\"title\" must be a string"},
        {with("title", std::string(513, 'x')), "longer than 512 characters"},
        {with("title", repeat("e\xCC\x81", 512) + "x"), "longer than 512 characters"},
        {with("tags", "a,b"), "list of strings"},
        {with("tags", {"a", 1}), "list of strings"},
        {with("tags", {std::string(65, 't')}), "longer than 64 characters"},
        {with("tags", {repeat("👨‍👩‍👧", 64) + "x"}), "longer than 64 characters"},
        {with("tags", {""}), "must not be empty"},
        {with("tags", numberedTags(33)), "At most 32 tags"},
        {with("isReadLater", "yes"), "true or false"},
        {"{\"0\":{\"json\":{\"url\":\"https://example.org/\xFF\"}}}", "not valid JSON"},
        {std::string(200000, '[') + std::string(200000, ']'), "nests too deeply"},
        {with("title", "a" + repeat("\xCC\x81", 200000)), "longer than 16384 bytes"},
        {with("tags", {"a" + repeat("\xCC\x81", 1100)}), "longer than 2048 bytes"},
    };
    for (const auto& [text, messagePart] : cases) {
        const auto parsed = parseCreateCall(text);
        ASSERT_TRUE(std::holds_alternative<InputError>(parsed)) << text.substr(0, 80);
        EXPECT_NE(std::get<InputError>(parsed).message.find(messagePart), std::string::npos)
            << text.substr(0, 80) << " gave " << std::get<InputError>(parsed).message;
    }
}

TEST(DevserviceBookmarks, FetchMetadataCall) {
    const auto good = parseFetchMetadataCall(R"({"0":{"json":{"url":"https://example.org/x"}}})");
    ASSERT_TRUE(std::holds_alternative<std::string>(good));
    EXPECT_EQ(std::get<std::string>(good), "https://example.org/x");
    for (const char* bad : {R"({"0":{"json":{"url":"file:///etc/passwd"}}})", R"({"0":{"json":{}}})", "[1]",
                            R"({"0":{"json":{"url":"data:text/html,<title>x</title>"}}})"}) {
        EXPECT_TRUE(std::holds_alternative<InputError>(parseFetchMetadataCall(bad))) << bad;
    }
}

TEST(DevserviceBookmarks, TagsFieldOfTheWebForm) {
    EXPECT_EQ(splitTagsField("news, Tech  news,,\nNEWS tech\tx"),
              (std::vector<std::string>{"news", "Tech", "tech\tx"}));
    EXPECT_TRUE(splitTagsField(" , ,, ").empty());
    EXPECT_EQ(splitTagsField("Café CAFE\xCC\x81"), std::vector<std::string>{"Café"});
}

TEST(DevserviceCredentials, PasswordsAndSessionTokens) {
    const auto hash = credentials::hashPassword("tolvar-demo");
    EXPECT_EQ(hash.rfind("pbkdf2-sha256$100000$", 0), 0u);
    EXPECT_TRUE(credentials::verifyPassword("tolvar-demo", hash));
    EXPECT_FALSE(credentials::verifyPassword("tolvar-demo ", hash));
    EXPECT_FALSE(credentials::verifyPassword("", hash));
    EXPECT_NE(credentials::hashPassword("tolvar-demo"), hash) << "each hash has its own salt";
    for (const char* malformed : {"", "plain", "pbkdf2-sha256$x$00$00", "pbkdf2-sha256$1000$zz$00",
                                  "md5$1$00$00", "pbkdf2-sha256$0$00$0000"}) {
        EXPECT_FALSE(credentials::verifyPassword("x", malformed)) << malformed;
    }
    const auto token = credentials::newSessionToken();
    EXPECT_EQ(token.size(), 64u);
    EXPECT_NE(credentials::newSessionToken(), token);
}

// Every option's good spelling is used by the tests that start the service.
TEST(DevserviceOptions, CommandLine) {
    EXPECT_EQ(std::get<Options>(parseOptions({"--data=/tmp/d", "--fetch-timeout=2"})).fetchTimeoutSeconds, 2);
    EXPECT_TRUE(std::holds_alternative<ShowHelp>(parseOptions({"--help"})));
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {},
             {"--port", "1"},
             {"--data"},
             {"--data", "d", "--port", "70000"},
             {"--data", "d", "--port", "-1"},
             {"--data", "d", "--port", "12x"},
             {"--data", "d", "--demo-session", "has space"},
             {"--data", "d", "--demo-session", ""},
             {"--data", "d", "--bogus"},
             {"--data", "d", "extra"},
         }) {
        EXPECT_TRUE(std::holds_alternative<OptionsError>(parseOptions(bad)));
    }
}

}  // namespace
