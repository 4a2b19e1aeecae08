#include "update/UpdateInfo.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {
const std::optional<std::string> none = std::nullopt;

std::string shown(const std::optional<std::string>& text) { return text ? "\"" + *text + "\"" : "none"; }
}  // namespace

// Readable failure messages.
void PrintTo(const UpdateInfo& info, std::ostream* out) {
    *out << "{version " << shown(info.version) << ", url " << shown(info.url) << ", notes " << shown(info.notes)
         << ", minimumSystemVersion " << shown(info.minimumSystemVersion) << ", zip " << shown(info.zip) << "}";
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
        {"required members only", R"({"url":"u","version":"v"})", UpdateInfo("v", "u", none, none, none)},
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
        {"url null", R"({"version":"1.0","url":null})"},
        {"version null", R"({"version":null,"url":"u"})"},
        {"version a number", R"({"version":1.2,"url":"u"})"},
        {"url a boolean", R"({"version":"1","url":true})"},
        {"url an array", R"({"version":"1","url":["u"]})"},
        {"zip a number", R"({"version":"1","url":"u","zip":1})"},
        {"notes an object", R"({"version":"1","url":"u","notes":{}})"},
        {"notes false", R"({"version":"1","url":"u","notes":false})"},
        {"minimumSystemVersion an array", R"({"version":"1","url":"u","minimumSystemVersion":[]})"},
        {"keys are case-sensitive", R"({"Version":"1","URL":"u"})"},
        {"top-level array", R"([{"version":"1","url":"u"}])"},
        {"top-level string", R"("{\"version\":\"1\",\"url\":\"u\"}")"},
        {"null", "null"},
        {"empty", ""},
        {"unfinished", R"({"version":"1","url":"u")"},
        {"trailing text", R"({"version":"1","url":"u"} x)"},
        {"two documents", R"({"version":"1","url":"u"}{})"},
        {"comments are not JSON", R"({"version":"1",/* c */"url":"u"})"},
        {"ill-formed UTF-8 in a member that is read", "{\"version\":\"1\xff\",\"url\":\"u\"}"},
        {"ill-formed UTF-8 in a member that is ignored", "{\"version\":\"1\",\"url\":\"u\",\"x\":\"\xc0\xaf\"}"},
        {"lone surrogate escape", R"({"version":"\ud800","url":"u"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UpdateInfo::decode(c.feed), std::nullopt);
    }
}

TEST(UpdateInfoDecode, HostileDocumentsAreRefusedWithoutCrashing) {
    EXPECT_EQ(UpdateInfo::decode(std::string(100000, '[')), std::nullopt);
    EXPECT_EQ(UpdateInfo::decode(std::string(100000, '{')), std::nullopt);
    EXPECT_EQ(UpdateInfo::decode(std::string(1 << 20, ',')), std::nullopt);
    EXPECT_EQ(UpdateInfo::decode(std::string(1 << 20, '\xff')), std::nullopt);
    // Too deep, even in a member that would be ignored.
    const std::string deepMember =
        R"({"version":"1","url":"u","x":)" + std::string(600, '[') + std::string(600, ']') + "}";
    EXPECT_EQ(UpdateInfo::decode(deepMember), std::nullopt);
    // Moderate nesting in an ignored member is fine, and brackets in strings do not count.
    const std::string moderate =
        R"({"version":"1","url":"u","x":)" + std::string(300, '[') + std::string(300, ']') + "}";
    EXPECT_EQ(UpdateInfo::decode(moderate), std::optional<UpdateInfo>(UpdateInfo("1", "u", none, none, none)));
    const std::string bracketsInText = R"({"version":"1","url":"u","notes":")" + std::string(100000, '[') + "\"}";
    EXPECT_EQ(UpdateInfo::decode(bracketsInText),
              std::optional<UpdateInfo>(UpdateInfo("1", "u", std::string(100000, '['), none, none)));
}

TEST(UpdateInfoCodingKeys, NamesAreExactAndCaseSensitive) {
    using Key = UpdateInfo::CodingKeys;
    const struct {
        Key key;
        const char* name;
    } cases[] = {{Key::version, "version"},
                 {Key::url, "url"},
                 {Key::notes, "notes"},
                 {Key::minimumSystemVersion, "minimumSystemVersion"},
                 {Key::zip, "zip"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UpdateInfo::stringValue(c.key), c.name);
        EXPECT_EQ(UpdateInfo::codingKey(c.name), std::optional<Key>(c.key));
    }
    for (const char* other : {"Version", "URL", "minimum_system_version", "", "0", "zip "})
        EXPECT_EQ(UpdateInfo::codingKey(other), std::nullopt) << other;
}
