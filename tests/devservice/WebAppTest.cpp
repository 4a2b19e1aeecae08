#include "ServiceFixture.h"

namespace {

class DevserviceWebApp : public DevserviceProcess {
protected:
    void SetUp() override { start(); }
};

TEST_F(DevserviceWebApp, ASessionLastsFromSignInToSignOutAndTheServiceStopsCleanly) {
    EXPECT_EQ(service_->base().rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(dataDir() / "tolvar.sqlite3"));
    const auto reply = postForm("/app/signin", "name=demo&password=tolvar-demo");
    EXPECT_EQ(reply.status, 303);
    EXPECT_EQ(reply.header("Location"), "/app");
    const auto cookies = reply.headerValues("Set-Cookie");
    ASSERT_EQ(cookies.size(), 1u);
    EXPECT_NE(cookies[0].find("; HttpOnly"), std::string::npos) << cookies[0];
    EXPECT_NE(cookies[0].find("; Path=/;"), std::string::npos) << cookies[0];
    const auto token = signIn("demo", "tolvar-demo");
    const auto page = get("/app", cookie(token));
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("Sign out"), std::string::npos);
    EXPECT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org"}}), token).status, 200);

    const auto out = testsupport::httpRequest(port(), "POST", "/app/signout", cookie(token));
    EXPECT_EQ(out.status, 303);
    EXPECT_EQ(out.header("Location"), "/app/signin");
    EXPECT_NE(out.header("Set-Cookie").value_or("").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(get("/app", cookie(token)).status, 303);
    EXPECT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org"}}), token).status, 401);
    EXPECT_EQ(get("/app", cookie(demoToken)).status, 200) << "other sessions go on";

    const int stoppedPort = port();
    stopService();  // SIGTERM ends it with status 0
    EXPECT_EQ(testsupport::connectLoopback(stoppedPort), -1) << "nothing listens after the stop";
}

// Refused names and passwords, and where a signed-in user goes next: only to the application's pages.
TEST_F(DevserviceWebApp, TheSignInFormRefusesOrSendsOnWithinTheApplication) {
    const std::string good = "name=demo&password=tolvar-demo&next=";
    const struct {
        std::string body;
        int status;
        std::string location;
    } cases[] = {
        {"name=demo&password=wrong", 401, ""},
        {"name=nobody&password=tolvar-demo", 401, ""},
        {"name=demo", 401, ""},
        {"password=tolvar-demo", 401, ""},
        {"", 401, ""},
        {"name=demo%27+--&password=x", 401, ""},
        {"name=%27+OR+%271%27%3D%271&password=%27+OR+%271%27%3D%271", 401, ""},
        {good + "https%3A%2F%2Fevil.example%2F", 303, "/app"},
        {good + "%2F%2Fevil.example", 303, "/app"},
        {good + "%2Fapplesauce", 303, "/app"},
        {good + "%2Fapp%5C..%5Cevil", 303, "/app"},
        {good + "%2Fdownloads%2Fversion.json", 303, "/app"},
        {good + "%2Fapp%2Fbookmarks%2Fnew%3Furl%3Dhttps%253A%252F%252Fexample.org%252Fa%253Fb%253D1%2526c%253D%253Cd%253E",
         303, "/app/bookmarks/new?url=https%3A%2F%2Fexample.org%2Fa%3Fb%3D1%26c%3D%3Cd%3E"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto reply = postForm("/app/signin", c.body);
        EXPECT_EQ(reply.status, c.status);
        if (c.status == 401) {
            EXPECT_TRUE(reply.headerValues("Set-Cookie").empty());
            EXPECT_NE(reply.body.find("Wrong name or password."), std::string::npos);
        } else {
            EXPECT_EQ(reply.header("Location"), c.location);
        }
    }
}

TEST_F(DevserviceWebApp, EveryPageAsksForSignInAndReturnsWithItsQuery) {
    EXPECT_EQ(get("/").header("Location"), "/app");
    for (const std::string target : {"/app", "/app/", "/app/bookmarks/new", "/app/anything"}) {
        const auto reply = get(target, cookie("not-a-session"));
        EXPECT_EQ(reply.status, 303) << target;
        EXPECT_EQ(reply.header("Location").value_or("").rfind("/app/signin?next=", 0), 0u) << target;
    }
    EXPECT_EQ(postForm("/app/bookmarks/new", "url=https%3A%2F%2Fexample.org").status, 303);
    EXPECT_TRUE(bookmarks().empty());

    const std::string target = "/app/bookmarks/new?url=https%3A%2F%2Fexample.org%2Fa%3Fb%3D1%26c%3D%3Cd%3E";
    const auto location = get(target).header("Location").value_or("");
    ASSERT_EQ(location.rfind("/app/signin?next=", 0), 0u) << location;
    const auto signInPage = get(location);
    EXPECT_EQ(signInPage.status, 200);
    EXPECT_NE(signInPage.body.find("value=\"" + target + "\""), std::string::npos) << signInPage.body;

    const auto form = get(target, cookie(demoToken));
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.body.find("name=\"url\" required value=\"https://example.org/a?b=1&amp;c=&lt;d&gt;\""),
              std::string::npos)
        << form.body;
}

TEST_F(DevserviceWebApp, NewBookmarkFormSavesAndTheListShowsNewestFirstEscaped) {
    auto reply = postForm("/app/bookmarks/new",
                          "url=https%3A%2F%2Fexample.org%2Ffirst&title=%3Cb%3EBold%3C%2Fb%3E+%26+co&tags=x%2C+y+X&readLater=on",
                          cookie(demoToken));
    EXPECT_EQ(reply.status, 303);
    EXPECT_EQ(reply.header("Location"), "/app?notice=saved");
    reply = postForm("/app/bookmarks/new", "url=https%3A%2F%2Fexample.org%2Fsecond&title=&tags=", cookie(demoToken));
    EXPECT_EQ(reply.header("Location"), "/app?notice=saved");
    reply = postForm("/app/bookmarks/new", "url=https%3A%2F%2Fexample.org%2Ffirst&title=again", cookie(demoToken));
    EXPECT_EQ(reply.header("Location"), "/app?notice=exists");

    const auto list = bookmarks();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["title"], "https://example.org/second");
    EXPECT_EQ(list[0]["isReadLater"], false);
    EXPECT_EQ(list[1]["title"], "<b>Bold</b> & co");
    EXPECT_EQ(list[1]["tags"], nlohmann::json::array({"x", "y"}));
    EXPECT_EQ(list[1]["isReadLater"], true);

    const auto page = get("/app?notice=exists", cookie(demoToken));
    EXPECT_LT(page.body.find("example.org/second"), page.body.find("example.org/first"));
    EXPECT_NE(page.body.find("&lt;b&gt;Bold&lt;/b&gt; &amp; co"), std::string::npos);
}

TEST_F(DevserviceWebApp, NewBookmarkFormRefusesBadInputOrOtherSitesAndKeepsWhatWasTyped) {
    const auto reply = postForm("/app/bookmarks/new", "url=javascript%3Aalert(1)&title=%22%3E%3Cscript%3E&tags=a",
                                cookie(demoToken));
    EXPECT_EQ(reply.status, 400);
    EXPECT_NE(reply.body.find("http or https"), std::string::npos);
    EXPECT_NE(reply.body.find("value=\"javascript:alert(1)\""), std::string::npos);
    EXPECT_NE(reply.body.find("value=\"&quot;&gt;&lt;script&gt;\""), std::string::npos);

    const std::string session = "tolvar_session=" + std::string(demoToken);
    const auto foreign = postForm("/app/bookmarks/new", "url=https%3A%2F%2Fexample.org",
                                  {{"Cookie", session}, {"Origin", "http://evil.example"}});
    EXPECT_EQ(foreign.status, 403);
    EXPECT_TRUE(bookmarks().empty());
    const auto own = postForm("/app/bookmarks/new", "url=https%3A%2F%2Fexample.org",
                              {{"Cookie", session}, {"Origin", "http://127.0.0.1:" + std::to_string(port())}});
    EXPECT_EQ(own.status, 303);
    EXPECT_EQ(bookmarks().size(), 1u);
}

}  // namespace
