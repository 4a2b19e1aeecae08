#include <gtest/gtest.h>

#include "app/MainWindowCommands.h"
#include "platform/Url.h"

namespace {

using namespace MainWindowCommands;

TEST(MainWindowCommands, ZoomStepsAreUnroundedSums) {
    std::vector<double> out;
    double factor = actualSize;
    for (int i = 0; i < 7; ++i) out.push_back(factor = zoomedOut(factor));
    const std::vector<double> expected{0.9, 0.8, 0.7000000000000001, 0.6000000000000001, 0.5000000000000001, 0.5, 0.5};
    EXPECT_EQ(out, expected);
    EXPECT_EQ(zoomedOut(0.55), 0.5);

    factor = actualSize;
    for (int i = 0; i < 3; ++i) factor = zoomedIn(factor);
    EXPECT_EQ(factor, 1.3000000000000003);
    EXPECT_GT(zoomedIn(2.0), 2.0);
    EXPECT_GT(zoomedIn(zoomedIn(10.0)), 10.1);
}

const ServiceAddress::Address service = ServiceAddress::defaultAddress();

TEST(MainWindowCommands, NewBookmarkPageIsOnTheServiceAddress) {
    EXPECT_EQ(newBookmarkURL(service), "https://web.tolvar.app/app/bookmarks/new");
    const auto own = ServiceAddress::resolve("http://127.0.0.1:8080/tolvar").address;
    EXPECT_EQ(newBookmarkURL(own), "http://127.0.0.1:8080/tolvar/app/bookmarks/new");
    EXPECT_EQ(clipboardBookmarkURL("https://a.example/", own),
              "http://127.0.0.1:8080/tolvar/app/bookmarks/new?url=https%3A%2F%2Fa.example%2F");
}

TEST(MainWindowCommands, ClipboardAddressReachesThePageTrimmed) {
    const std::string address = "https://example.com/a b?x=1&y=%20z#frag";
    auto target = clipboardBookmarkURL("  \t" + address + "\r\n", service);
    ASSERT_TRUE(target);
    EXPECT_TRUE(target->starts_with("https://web.tolvar.app/app/bookmarks/new?url=")) << *target;
    // The page receives the trimmed text itself, whatever it contains.
    EXPECT_EQ(platform::queryItemValue(*target, "url"), "https://example.com/a b?x=1&y=%20z#frag");

    // The scheme test ignores case; the text passes on as written.
    auto capitals = clipboardBookmarkURL("HTTPS://Example.com/Page", service);
    ASSERT_TRUE(capitals);
    EXPECT_EQ(platform::queryItemValue(*capitals, "url"), "HTTPS://Example.com/Page");

    // Only the scheme is tested: an address without a host reaches the page, which shows it as copied.
    auto hostless = clipboardBookmarkURL("http:no-host", service);
    ASSERT_TRUE(hostless);
    EXPECT_EQ(platform::queryItemValue(*hostless, "url"), "http:no-host");

    // Unicode spaces and line separators are trimmed too.
    auto unicode = clipboardBookmarkURL("\u00a0\u2003http://example.com/\u2028", service);
    ASSERT_TRUE(unicode);
    EXPECT_EQ(platform::queryItemValue(*unicode, "url"), "http://example.com/");

    for (const char* rejected : {"ftp://example.com/file", "example.com", "plain prose here", "", "   ",
                                 "mailto:someone@example.com", "javascript:alert(1)"}) {
        EXPECT_EQ(clipboardBookmarkURL(std::string(rejected), service), std::nullopt) << rejected;
    }
    EXPECT_EQ(clipboardBookmarkURL(std::nullopt, service), std::nullopt);
}

}  // namespace
