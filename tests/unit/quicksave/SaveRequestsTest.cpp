#include <gtest/gtest.h>

#include "quicksave/SaveRequests.h"

namespace {

using platform::ScriptResult;

TEST(SaveRequests, TitleRequestBodyIsJSONOfTheAddress) {
    EXPECT_EQ(SaveRequests::titleRequestBody("https://example.org/a?b=\"c\""),
              R"({"0":{"json":{"url":"https://example.org/a?b=\"c\""}}})");
    EXPECT_EQ(SaveRequests::titleRequestBody("https://example.org/\xff"), std::nullopt);
}

TEST(SaveRequests, CreateRepliesDecodeOnlyFromTheExpectedShape) {
    auto reply = SaveRequests::decodeCreateReply({true, R"({"status":200,"text":"[{\"result\":{}}]"})", ""});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->text, R"([{"result":{}}])");

    const ScriptResult rejected[] = {
        {false, nullptr, "TypeError: Load failed"},
        {true, nullptr, ""},
        {true, 42, ""},
        {true, "not json", ""},
        {true, R"(["status",200])", ""},
        {true, R"({"status":"200","text":""})", ""},
        {true, R"({"status":200.5,"text":""})", ""},
        {true, R"({"status":200})", ""},
        {true, R"({"status":200,"text":null})", ""},
    };
    for (const auto& result : rejected) {
        EXPECT_EQ(SaveRequests::decodeCreateReply(result), std::nullopt) << result.value.dump();
    }
}

TEST(SaveRequests, ClippedControlsAllowHalfAPoint) {
    const platform::Rect content{0, 0, 520, 246};
    const std::vector<platform::ControlFrame> controls{
        {"page", {20, 30, 480, 24}},        // inside
        {"title", {-0.5, 60, 480, 24}},      // touches the tolerance: fits
        {"tags", {20, 90, 500.6, 24}},       // sticks out on the right by 1.1
        {"status", {20, 120, 480, 16}},
        {"readLater", {20, 200, 80, 46.5}},  // bottom edge exactly on the tolerance
        {"cancel", {380, -1, 60, 24}},       // above the top
        {"save", {440, 200, 60, 47}},        // below the bottom
    };
    EXPECT_EQ(SaveRequests::clippedControls(content, controls), (std::vector<std::string>{"tags", "cancel", "save"}));
    EXPECT_TRUE(SaveRequests::clippedControls(content, {}).empty());
}

}  // namespace
