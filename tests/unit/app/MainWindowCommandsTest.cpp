#include <gtest/gtest.h>

#include "app/MainWindowCommands.h"
#include "platform/Url.h"

namespace {

using namespace MainWindowCommands;

TEST(MainWindowCommands, ZoomStepsStopAtHalfSizeOnlyOnTheWayOut) {
    double factor = actualSize;
    for (int i = 0; i < 7; ++i) factor = zoomedOut(factor);
    EXPECT_EQ(factor, 0.5);
    EXPECT_EQ(zoomedOut(0.55), 0.5);
    EXPECT_DOUBLE_EQ(zoomedIn(zoomedIn(zoomedIn(actualSize))), 1.3);
    EXPECT_GT(zoomedIn(zoomedIn(10.0)), 10.1);
}

// The page on the service receives the trimmed clipboard text as written; only the scheme is tested
// (ignoring case), so an address without a host reaches the page, which shows it as copied.
TEST(MainWindowCommands, ClipboardAddressReachesTheNewBookmarkPageTrimmed) {
    const auto own = ServiceAddress::resolve("http://127.0.0.1:8080/tolvar").address;
    EXPECT_EQ(newBookmarkURL(own), "http://127.0.0.1:8080/tolvar/app/bookmarks/new");
    EXPECT_EQ(clipboardBookmarkURL("https://a.example/", own),
              "http://127.0.0.1:8080/tolvar/app/bookmarks/new?url=https%3A%2F%2Fa.example%2F");

    const std::pair<const char*, const char*> passed[] = {
        {"  \thttps://example.com/a b?x=1&y=%20z#frag\r\n", "https://example.com/a b?x=1&y=%20z#frag"},
        {"HTTPS://Example.com/Page", "HTTPS://Example.com/Page"},
        {"http:no-host", "http:no-host"},
        {"\u00a0\u2003http://example.com/\u2028", "http://example.com/"},
    };
    for (const auto& [clipboard, address] : passed) {
        const auto target = clipboardBookmarkURL(std::string(clipboard), ServiceAddress::defaultAddress());
        ASSERT_TRUE(target && target->starts_with("https://web.tolvar.app/app/bookmarks/new?url=")) << clipboard;
        EXPECT_EQ(platform::queryItemValue(*target, "url"), address);
    }
    for (const char* rejected : {"ftp://example.com/file", "example.com", "plain prose here", "", "   ",
                                 "mailto:someone@example.com", "javascript:alert(1)"}) {
        EXPECT_EQ(clipboardBookmarkURL(std::string(rejected), own), std::nullopt) << rejected;
    }
    EXPECT_EQ(clipboardBookmarkURL(std::nullopt, own), std::nullopt);
}

}  // namespace
