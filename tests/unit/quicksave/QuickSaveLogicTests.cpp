#include "quicksave/QuickSaveLogic.h"

#include <cstdint>
#include <limits>
#include <tuple>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace QuickSaveLogic;
using nlohmann::json;

namespace {

std::string repeated(std::string_view unit, std::size_t count) {
    std::string out;
    out.reserve(unit.size() * count);
    for (std::size_t i = 0; i < count; ++i) out += unit;
    return out;
}

const std::optional<std::string> nothing = std::nullopt;

}  // namespace

// Only exact identifiers are supported, each with the script of its kind.
TEST(QuickSaveTabScript, EachSupportedBrowserGetsTheScriptOfItsKind) {
    const auto ask = [](const std::string& app, const char* what) -> std::optional<std::string> {
        return "tell application \"" + app + "\" to return {" + what + "}";
    };
    const char* document = "URL of front document, name of front document";
    const char* tab = "URL of active tab of front window, title of active tab of front window";
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"com.apple.Safari", ask("Safari", document)},
        {"com.apple.SafariTechnologyPreview", ask("Safari Technology Preview", document)},
        {"com.google.Chrome", ask("Google Chrome", tab)}, {"com.brave.Browser", ask("Brave Browser", tab)},
        {"com.microsoft.edgemac", ask("Microsoft Edge", tab)}, {"company.thebrowser.Browser", ask("Arc", tab)},
        {"com.vivaldi.Vivaldi", ask("Vivaldi", tab)}, {"org.chromium.Chromium", ask("Chromium", tab)},
        {"org.mozilla.firefox", ask("Firefox", tab)},
        {"com.apple.safari", nothing}, {"", nothing}, {"com.apple.Safari ", nothing}, {" com.apple.Safari", nothing},
        {"COM.GOOGLE.CHROME", nothing}, {"com.google.Chrome.canary", nothing}, {"org.mozilla.Firefox", nothing},
        {"org.chromium.chromium", nothing}, {"app.tolvar.desktop", nothing}, {"Safari", nothing}};
    for (const auto& [id, script] : cases) EXPECT_EQ(tabScript(id), script) << id;
}

TEST(QuickSaveCleanedWebURL, AcceptsHttpAndHttpsAddressesWithAHostAndReturnsThemAsWritten) {
    const struct {
        std::string input;
        std::optional<std::string> expected;
    } cases[] = {
        {"  https://example.org/a\n", "https://example.org/a"},
        {"HTTPS://Example.ORG/A", "HTTPS://Example.ORG/A"},
        // Every member of the trim set, at both ends.
        {"\t\n\v\f\r \u0085\u00A0\u2003\u2028\u2029\u3000http://a.b/\u202F\u205F\u1680\r\n", "http://a.b/"},
        {"https://user:pw@example.org:8080/p/q?x=1&y=%20#frag", "https://user:pw@example.org:8080/p/q?x=1&y=%20#frag"},
        {"https://\u4F8B\u3048.jp/\u30D1\u30B9?\u30AF=1", "https://\u4F8B\u3048.jp/\u30D1\u30B9?\u30AF=1"},
        // Not re-encoded: characters browsers leave unescaped in a path stay as they are.
        {"https://example.org/a|b^c{d}[e]", "https://example.org/a|b^c{d}[e]"},
        // Zero-width space is not white space, so it is not trimmed and stays part of the path.
        {"https://example.org/\u200B", "https://example.org/\u200B"},

        {"ftp://example.org/file", nothing},
        {"javascript:alert(1)", nothing},
        {"file:///etc/passwd", nothing},
        {"example.org", nothing},
        {"//example.org/path", nothing},
        {"http://", nothing},
        {"http:///path", nothing},
        {"https://:80/", nothing},
        {"http:example.org", nothing},
        {" \t\n\u3000 ", nothing},
        {std::string("https://exa\0mple.org", 20), nothing},
        {std::string("https://example.org/\0", 21), nothing},
        {"https://example.org/\xff", nothing},
        {"\xc3\x28https://example.org", nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(cleanedWebURL(c.input), c.expected);
    }
}

TEST(QuickSaveParseTags, SplitsTrimsDeduplicatesAndLimits) {
    const std::string sixtyFour = repeated("x", 64);
    const std::string sixtyFive = repeated("y", 65);
    // Duplicates and dropped pieces do not count towards the 32.
    std::string thirtyFive = "dup,DUP,dup," + repeated("z", 70) + ",";
    std::vector<std::string> firstThirtyTwo{"dup"};
    for (int i = 0; i < 35; ++i) {
        thirtyFive += "t" + std::to_string(i) + ",";
        if (firstThirtyTwo.size() < 32) firstThirtyTwo.push_back("t" + std::to_string(i));
    }
    const struct {
        std::string name;
        std::string input;
        std::vector<std::string> expected;
    } cases[] = {
        {"empty", "", {}},
        {"separators alone", ", ,  ,\n,,", {}},
        {"duplicate in other case, empty piece, double spaces", "a,  b,,A  c", {"a", "b", "c"}},
        {"tab does not separate", "a\tb", {"a\tb"}},
        {"other space separators are trimmed", "\u00A0news\u3000,\u2003x", {"news", "x"}},
        {"carriage return with line feed is one character", "x\r\ny", {"x\r\ny"}},
        {"line breaks other than line feed are kept", "\rx", {"\rx"}},
        {"space with a combining mark does not separate", "a \u0301b", {"a \u0301b"}},
        {"comma with a combining mark does not separate", "a,\u0301b", {"a,\u0301b"}},
        {"first form wins", "Tech,tech,TECH", {"Tech"}},
        {"sixty-four characters stay, sixty-five go", sixtyFour + "," + sixtyFive, {sixtyFour}},
        {"length counts characters, not code points",
         repeated("e\u0301", 64) + " " + repeated("o\u0308", 65), {repeated("e\u0301", 64)}},
        {"an emoji family is one character",
         repeated("\U0001F468\u200D\U0001F469\u200D\U0001F467", 64), {repeated("\U0001F468\u200D\U0001F469\u200D\U0001F467", 64)}},
        {"canonically equivalent forms are duplicates", "caf\u00E9 cafe\u0301 CAF\u00C9 CAFE\u0301", {"caf\u00E9"}},
        {"Greek capitals match small letters", "\u0391\u0392\u0393 \u03B1\u03B2\u03B3", {"\u0391\u0392\u0393"}},
        {"compatibility forms are not duplicates", "\uFB01 fi", {"\uFB01", "fi"}},
        {"no Turkish rule: dotted capital I is not i", "\u0130stanbul istanbul", {"\u0130stanbul", "istanbul"}},
        {"ill-formed UTF-8 reads as U+FFFD", std::string("a,\xff,b"), {"a", "\uFFFD", "b"}},
        {"the first thirty-two are kept", thirtyFive, firstThirtyTwo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseTags(c.input), c.expected);
    }
}

TEST(QuickSaveCreateBody, BuildsTheCompactBatchBody) {
    // The worked example, written out.
    EXPECT_EQ(createBody("https://example.org/a", "  Example  ", {"news", "Tech"}, true),
              std::optional<std::string>(
                  R"({"0":{"json":{"url":"https://example.org/a","title":"Example","tags":["news","Tech"],"isReadLater":true}}})"));

    const std::string url = "https://example.org/a?b=c&d=\u00E9";
    const struct {
        std::string name;
        std::string title;
        std::vector<std::string> tags;
        bool readLater;
        json expectedInput;
    } cases[] = {
        {"blank title falls back to the address", " \n\t\u2028\u00A0 ", {}, false, {{"url", url}, {"title", url}}},
        {"empty title falls back to the address", "", {"a"}, false, {{"url", url}, {"title", url}, {"tags", {"a"}}}},
        {"no tags, no flag: both keys left out", "T", {}, false, {{"url", url}, {"title", "T"}}},
        {"flag only", "T", {}, true, {{"url", url}, {"title", "T"}, {"isReadLater", true}}},
        {"tags are sent as received", "T", {"b", "a", "b", ""}, false,
         {{"url", url}, {"title", "T"}, {"tags", {"b", "a", "b", ""}}}},
        {"inner white space and escapes survive", " \"Quote\"\t\\ /\u0001 ", {}, false,
         {{"url", url}, {"title", "\"Quote\"\t\\ /\u0001"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto body = createBody(url, c.title, c.tags, c.readLater);
        ASSERT_TRUE(body);
        const json parsed = json::parse(*body);
        EXPECT_EQ(parsed, (json{{"0", {{"json", c.expectedInput}}}}));
        // Compact: written again without insignificant white space, in the same order, it is unchanged.
        EXPECT_EQ(nlohmann::ordered_json::parse(*body).dump(), *body);
        EXPECT_EQ(body->find("false"), std::string::npos);
    }
}

TEST(QuickSaveCreateBody, CutsTheTitleAtFiveHundredTwelveCharacters) {
    auto titleOf = [](const std::string& url, const std::string& title) {
        const auto body = createBody(url, title, {}, false);
        return body ? json::parse(*body)["0"]["json"]["title"].get<std::string>() : std::string("<no body>");
    };
    const std::string url = "https://example.org/";
    const struct {
        std::string name;
        std::string url;
        std::string title;
        std::string expected;
    } cases[] = {
        {"600 letters", url, repeated("a", 600), repeated("a", 512)},
        {"combining sequences stay whole", url, repeated("e\u0301", 600), repeated("e\u0301", 512)},
        {"flags stay whole", url, repeated("\U0001F1EB\U0001F1F7", 600), repeated("\U0001F1EB\U0001F1F7", 512)},
        {"trimmed before cutting", url, "   " + repeated("c", 512) + "   ", repeated("c", 512)},
        {"address as title is cut too", url + repeated("p", 600), "", (url + repeated("p", 600)).substr(0, 512)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(titleOf(c.url, c.title), c.expected);
    }
}

// Overlong forms, surrogates, code points past U+10FFFF and cut sequences are not UTF-8.
TEST(QuickSaveCreateBody, RefusesTextThatIsNotUTF8) {
    for (const std::string bad : {"\xff", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "abc\xE2\x82"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(createBody("https://example.org/" + bad, "T", {}, false), nothing);
        EXPECT_EQ(createBody("https://example.org/", "T" + bad, {}, false), nothing);
        EXPECT_EQ(createBody("https://example.org/", "T", {"ok", bad}, false), nothing);
    }
    EXPECT_TRUE(createBody("https://example.org/", "plain, café, 日本, 👍", {}, false));
}

TEST(QuickSaveOutcome, EveryRowOfTheReplyTable) {
    const std::string signIn(signInFirst);
    const std::string signInMenu(signInFromMenu);
    const std::string alreadyTrue = R"({"result":{"data":{"json":{"alreadyExists":true}}}})";
    const struct {
        std::string name;
        std::string reply;
        std::int64_t status;
        SaveOutcome expected;
    } cases[] = {
        // Not a non-empty array of objects.
        {"empty text, status 0", "", 0, SaveOutcome::failed("Unexpected response (HTTP 0).")},
        {"empty array", "[]", 200, SaveOutcome::failed("Unexpected response (HTTP 200).")},
        {"not JSON, 401", "<html>", 401, SaveOutcome::failed(signIn)},
        {"status 500", "oops", 500, SaveOutcome::failed("Unexpected response (HTTP 500).")},
        {"smallest status", "oops", std::numeric_limits<std::int64_t>::min(),
         SaveOutcome::failed("Unexpected response (HTTP -9223372036854775808).")},
        {"top-level object", alreadyTrue, 200, SaveOutcome::failed("Unexpected response (HTTP 200).")},
        {"second element a number after an error", R"([{"error":{}},3])", 200,
         SaveOutcome::failed("Unexpected response (HTTP 200).")},
        {"bare null", "null", 401, SaveOutcome::failed(signIn)},
        {"trailing garbage", "[{}] x", 200, SaveOutcome::failed("Unexpected response (HTTP 200).")},
        {"ill-formed UTF-8 inside a string", "[{\"error\":{\"json\":{\"message\":\"\xff\"}}}]", 500,
         SaveOutcome::failed("Unexpected response (HTTP 500).")},

        // The first element reports an error.
        {"UNAUTHORIZED with 200", R"([{"error":{"json":{"message":"UNAUTHORIZED"}}}])", 200, SaveOutcome::failed(signInMenu)},
        {"any message with 401", R"([{"error":{"json":{"message":"Boom"}}}])", 401, SaveOutcome::failed(signInMenu)},
        {"message", R"([{"error":{"json":{"message":"Boom"}}}])", 500, SaveOutcome::failed("Boom")},
        {"empty message used unchanged", R"([{"error":{"json":{"message":""}}}])", 400, SaveOutcome::failed("")},
        {"message in lower case is not the sign-in word", R"([{"error":{"json":{"message":"unauthorized"}}}])", 403,
         SaveOutcome::failed("unauthorized")},
        {"no json", R"([{"error":{}}])", 500, SaveOutcome::failed(std::string(noMessage))},
        {"json not an object", R"([{"error":{"json":"Boom"}}])", 500, SaveOutcome::failed(std::string(noMessage))},
        {"message not a string", R"([{"error":{"json":{"message":5}}}])", 500, SaveOutcome::failed(std::string(noMessage))},
        {"error wins over a result", R"([{"error":{"json":{"message":"Boom"}},"result":{"data":{"json":{"alreadyExists":true}}}}])",
         200, SaveOutcome::failed("Boom")},

        // No error object: the result path decides and the status is not consulted.
        {"already exists", "[" + alreadyTrue + "]", 200, SaveOutcome::alreadySaved()},
        {"already exists whatever the status", "[" + alreadyTrue + "]", 401, SaveOutcome::alreadySaved()},
        {"error as a string is ignored", R"([{"error":"nope","result":{"data":{"json":{"alreadyExists":true}}}}])", 500,
         SaveOutcome::alreadySaved()},
        {"error null is ignored", R"([{"error":null}])", 500, SaveOutcome::saved()},
        {"empty object", "[{}]", 200, SaveOutcome::saved()},
        {"alreadyExists false", R"([{"result":{"data":{"json":{"alreadyExists":false}}}}])", 200, SaveOutcome::saved()},
        {"alreadyExists as text", R"([{"result":{"data":{"json":{"alreadyExists":"true"}}}}])", 200, SaveOutcome::saved()},
        {"data not an object", R"([{"result":{"data":[{"json":{"alreadyExists":true}}]}}])", 200, SaveOutcome::saved()},
        {"later elements are not read", R"([{},{"error":{"json":{"message":"Boom"}}}])", 200, SaveOutcome::saved()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.reply, c.status), c.expected);
    }
}
