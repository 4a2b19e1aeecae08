#include "update/UpdateInfo.h"

#include "core/Json.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {
const std::optional<std::string> none = std::nullopt;
}

TEST(UpdateInfoDecode, AcceptsFeedsThatFollowTheRules) {
    const struct {
        std::string name;
        std::string feed;
        UpdateInfo expected;
    } cases[] = {
        {"every member",
         R"({"version":"1.4.0","url":"https://tolvar.app/download","notes":"Faster.","minimumSystemVersion":"12","zip":"https://tolvar.app/Tolvar-1.4.0.zip"})",
         UpdateInfo("1.4.0", "https://tolvar.app/download", "Faster.", "12", "https://tolvar.app/Tolvar-1.4.0.zip")},
        {"null optionals", R"({"version":"v","url":"u","notes":null,"minimumSystemVersion":null,"zip":null})",
         UpdateInfo("v", "u", none, none, none)},
        {"other members ignored, whatever their type",
         R"({"version":"v","url":"u","Version":5,"ZIP":[],"extra":{"nested":[1,{"a":null}]},"notes ":true})",
         UpdateInfo("v", "u", none, none, none)},
        {"values neither trimmed nor checked", R"({"version":" 1.2 ","url":"not an address","notes":""})",
         UpdateInfo(" 1.2 ", "not an address", "", none, none)},
        {"escapes and non-ASCII text", R"({"version":"2\u00e9","url":"u","notes":"line\nline \u2603"})",
         UpdateInfo("2\u00E9", "u", "line\nline \u2603", none, none)},
        {"white space around the document", " \n{\"version\":\"v\",\"url\":\"u\"}\n ", UpdateInfo("v", "u", none, none, none)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UpdateInfo::decode(c.feed), std::optional<UpdateInfo>(c.expected));
    }
}

TEST(UpdateInfoDecode, RefusesAnyDocumentThatBreaksTheRulesWhole) {
    const struct {
        std::string name;
        std::string feed;
    } cases[] = {
        {"no url", R"({"version":"1.0"})"},
        {"no version", R"({"url":"u"})"},
        {"version null", R"({"version":null,"url":"u"})"},
        {"version a number", R"({"version":1.2,"url":"u"})"},
        {"url a boolean", R"({"version":"1","url":true})"},
        {"zip a number", R"({"version":"1","url":"u","zip":1})"},
        {"notes an object", R"({"version":"1","url":"u","notes":{}})"},
        {"minimumSystemVersion an array", R"({"version":"1","url":"u","minimumSystemVersion":[]})"},
        {"keys are case-sensitive", R"({"Version":"1","URL":"u"})"},
        {"top-level array", R"([{"version":"1","url":"u"}])"},
        {"ill-formed UTF-8 in a member that is ignored", "{\"version\":\"1\",\"url\":\"u\",\"x\":\"\xc0\xaf\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UpdateInfo::decode(c.feed), std::nullopt);
    }
}

// Every reader of outside JSON (the feed, the bundle's Info.json, the service's replies) goes
// through this parser, so hostile documents are tested here once.
TEST(HostileJSON, TheParserRefusesAllButOneWellFormedDocumentWithinTheDepthLimit) {
    const auto nested = [](std::size_t depth, const std::string& inside = "") {
        return std::string(depth, '[') + inside + std::string(depth, ']');
    };
    const std::string refused[] = {
        "",
        R"({"a":"b")",
        R"({"a":"b"} x)",
        R"({"a":"b"}{})",
        R"({/* c */"a":"b"})",
        "{\"a\":\"\xc0\xaf\"}",
        R"(["\ud800"])",
        std::string(100000, '['),
        std::string(100000, '{'),
        std::string(1 << 20, ','),
        std::string(1 << 20, '\0'),
        std::string(1 << 20, '\xff'),
        nested(core::deepestJSON + 1),
        nested(200000),
        R"({"a":)" + nested(600) + "}",
    };
    for (const auto& text : refused) EXPECT_EQ(core::parseJSON(text), std::nullopt) << text.substr(0, 40);

    EXPECT_NE(core::parseJSON(nested(core::deepestJSON)), std::nullopt);
    // Brackets inside strings are text, not nesting.
    const auto inString = core::parseJSON("[\"" + std::string(100000, '[') + "\"]");
    ASSERT_NE(inString, std::nullopt);
    EXPECT_EQ((*inString)[0], std::string(100000, '['));
}
