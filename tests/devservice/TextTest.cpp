#include <gtest/gtest.h>

#include "devservice/Text.h"
#include "devservice/Title.h"

namespace text = devservice::text;
namespace title = devservice::title;

namespace {

// The web-address rule is tested with the calls that apply it.
TEST(DevserviceText, FormAndPercentDecoding) {
    EXPECT_EQ(text::percentDecode("a%20b+c%2Bd%zz%4", true), "a b c+d%zz%4");
    EXPECT_EQ(text::percentDecode("a+b", false), "a+b");
    const auto fields = text::decodeForm("url=https%3A%2F%2Fexample.org%2F%3Fa%3D1&empty=&flag&x=1&x=2");
    EXPECT_EQ(text::formValue(fields, "url"), "https://example.org/?a=1");
    EXPECT_EQ(text::formValue(fields, "empty"), "");
    EXPECT_EQ(text::formValue(fields, "flag"), "");
    EXPECT_EQ(text::formValue(fields, "x"), "1");
    EXPECT_EQ(text::formValue(fields, "missing"), std::nullopt);
    EXPECT_TRUE(text::decodeForm("").empty());
    EXPECT_EQ(text::percentEncodeComponent("/app?url=a b&c"), "%2Fapp%3Furl%3Da%20b%26c");
    EXPECT_EQ(text::percentEncodeUnsafe("/app?x=\"<é>\"%20"), "/app?x=%22%3C%C3%A9%3E%22%20");
}

TEST(DevserviceText, CookieValues) {
    EXPECT_EQ(text::cookieValues("a=1; tolvar_session=abc; b=2", "tolvar_session"), std::vector<std::string>{"abc"});
    EXPECT_EQ(text::cookieValues("tolvar_session=\"q\";tolvar_session=r", "tolvar_session"),
              (std::vector<std::string>{"q", "r"}));
    EXPECT_TRUE(text::cookieValues("xtolvar_session=1; tolvar_sessionx=2", "tolvar_session").empty());
    EXPECT_TRUE(text::isCookieSafe("abcDEF-123_.~"));
    for (const std::string& unsafe : std::vector<std::string>{"", "a b", "a;b", "a,b", std::string(513, 'a')}) {
        EXPECT_FALSE(text::isCookieSafe(unsafe)) << unsafe;
    }
}

TEST(DevserviceTitle, FindsTheTitleElement) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"<html><head><title>Hello</title>", "Hello"},
        {"<TITLE lang=\"en\">Upper</TITLE>", "Upper"},
        {"<!-- <title>no</title> --><title>yes</title>", "yes"},
        {"<script>var s = '<title>no</title>';</script><title>yes</title>", "yes"},
        {"<style>/* <title>no</title> */</style><title>yes</title>", "yes"},
        {"<titles>x</titles><title>real</title>", "real"},
        {"<title></title>", ""},
        {"<html><title>unfinished", std::nullopt},
        {"<html><body>no title</body></html>", std::nullopt},
        {"<!-- open comment <title>x</title>", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [html, title] : cases) EXPECT_EQ(title::rawTitleElement(html), title) << html;
}

TEST(DevserviceTitle, DecodesEntities) {
    EXPECT_EQ(title::decodeEntities("Tom &amp; Jerry &lt;3 &quot;x&quot; &apos;y&#39;"), "Tom & Jerry <3 \"x\" 'y'");
    EXPECT_EQ(title::decodeEntities("&#8212;&#x2014;&#X2014;"), "———");
    EXPECT_EQ(title::decodeEntities("Caf&eacute; &Uuml;ber &copy; &hellip;"), "Café Über © …");
    EXPECT_EQ(title::decodeEntities("&#0; &#xD800; &#x110000;"), "\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD");
    EXPECT_EQ(title::decodeEntities("&unknown; & &amp &#xZZ;"), "&unknown; & &amp &#xZZ;");
}

// The title lookups over HTTP read entities, spacing and a charset named by the header.
TEST(DevserviceTitle, TitleOfDocument) {
    EXPECT_EQ(title::titleOfDocument("<meta charset=\"windows-1252\"><title>Caf\xE9</title>", "text/html"), "Café");
    // UTF-8 by default; broken bytes are repaired rather than passed on.
    EXPECT_EQ(title::titleOfDocument("<title>Caf\xC3\xA9 \xFF</title>", "text/html"), "Café \xEF\xBF\xBD");
    EXPECT_EQ(title::titleOfDocument("<p>none</p>", "text/html"), std::nullopt);
}

}  // namespace
