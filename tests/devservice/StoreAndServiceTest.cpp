#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "tests/support/DevService.h"
#include "devservice/Pages.h"
#include "devservice/Service.h"
#include "devservice/Store.h"

using namespace devservice;

namespace {

TEST(DevserviceStore, UsersPasswordsAndSessions) {
    testsupport::TemporaryFolder folder;
    Store store(folder.path() / "db.sqlite3");
    const auto demo = store.ensureUser("demo", "tolvar-demo");
    EXPECT_EQ(store.ensureUser("demo", "another password").id, demo.id);
    EXPECT_TRUE(store.checkPassword("demo", "tolvar-demo").has_value()) << "an existing user keeps its password";
    EXPECT_FALSE(store.checkPassword("demo", "another password").has_value());
    EXPECT_FALSE(store.checkPassword("nobody", "tolvar-demo").has_value());
    EXPECT_FALSE(store.checkPassword("' OR '1'='1", "' OR '1'='1").has_value());

    const auto token = store.createSession(demo.id);
    ASSERT_TRUE(store.userForSession(token).has_value());
    EXPECT_EQ(store.userForSession(token)->name, "demo");
    EXPECT_FALSE(store.userForSession(token + "x").has_value());
    EXPECT_FALSE(store.userForSession("").has_value());
    store.plantSession(demo.id, "chosen-token");
    store.plantSession(demo.id, "chosen-token");  // refreshing is fine
    store.deleteSession(token);
    EXPECT_FALSE(store.userForSession(token).has_value());
    EXPECT_TRUE(store.userForSession("chosen-token").has_value());
}

TEST(DevserviceStore, BookmarksAreKeptVerbatimNewestFirstAndOncePerAddress) {
    testsupport::TemporaryFolder folder;
    const auto file = folder.path() / "db.sqlite3";
    {
        Store store(file);
        const auto demo = store.ensureUser("demo", "pw");
        const auto other = store.ensureUser("other", "pw");
        const NewBookmark tricky{"https://example.org/?q=1';DROP TABLE bookmarks;--",
                                 "Robert'); DROP TABLE users;-- \"%_\\",
                                 {"a'b", "\"; DELETE FROM sessions; --", "%", "_"},
                                 true};
        const auto first = store.createBookmark(demo.id, tricky);
        EXPECT_FALSE(first.alreadyExists);
        EXPECT_EQ(std::tie(first.bookmark.url, first.bookmark.title, first.bookmark.tags, first.bookmark.readLater),
                  std::tie(tricky.url, tricky.title, tricky.tags, tricky.readLater));

        auto changed = tricky;
        changed.title = "Another title";
        changed.tags = {};
        const auto second = store.createBookmark(demo.id, changed);
        EXPECT_TRUE(second.alreadyExists);
        EXPECT_EQ(second.bookmark.id, first.bookmark.id);
        EXPECT_EQ(second.bookmark.title, tricky.title) << "the earlier bookmark stays as it was";

        EXPECT_FALSE(store.createBookmark(other.id, changed).alreadyExists) << "addresses are per user";
        store.createBookmark(demo.id, {"https://example.org/newer", "Newer", {}, false});
        const auto list = store.bookmarks(demo.id);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0].url, "https://example.org/newer");
        EXPECT_EQ(list[1].url, tricky.url);
        EXPECT_TRUE(store.integrityOk());
    }
    Store reopened(file);
    EXPECT_EQ(reopened.bookmarks(1).size(), 2u) << "the data outlives the process";
}

// A title fetcher that answers only when the test says so.
class ManualFetcher : public TitleFetcher {
public:
    void fetchTitle(const std::string& url, std::function<void(std::string)> done) override {
        asked.push_back(url);
        pending = std::move(done);
    }
    std::vector<std::string> asked;
    std::function<void(std::string)> pending;
};

class DevserviceServiceLogic : public ::testing::Test {
protected:
    DevserviceServiceLogic()
        : store_(folder_.path() / "db.sqlite3"), service_(store_, fetcher_, {std::nullopt, std::nullopt}) {
        const auto demo = store_.ensureUser("demo", "tolvar-demo");
        store_.plantSession(demo.id, "token");
    }

    // The responses so far: the list grows when a pending answer comes later.
    std::shared_ptr<std::vector<Response>> call(const Request& request) {
        auto responses = std::make_shared<std::vector<Response>>();
        service_.handle(request, [responses](Response r) { responses->push_back(std::move(r)); });
        return responses;
    }

    static Request post(const std::string& path, const std::string& body) {
        return Request{"POST",
                       path,
                       "batch=1",
                       {{"Cookie", "tolvar_session=token"}, {"Content-Type", "application/json"}},
                       body};
    }

    testsupport::TemporaryFolder folder_;
    Store store_;
    ManualFetcher fetcher_;
    Service service_;
};

TEST_F(DevserviceServiceLogic, EveryRequestIsAnsweredExactlyOnce) {
    const std::vector<Request> requests = {
        {"GET", "/", "", {}, ""},
        {"GET", "/app", "", {}, ""},
        {"GET", "/app", "", {{"Cookie", "tolvar_session=token"}}, ""},
        {"DELETE", "/app", "", {{"Cookie", "tolvar_session=token"}}, ""},
        {"GET", "/app/nothing", "", {{"Cookie", "tolvar_session=token"}}, ""},
        {"GET", "/api/trpc/bookmarks.create", "batch=1", {}, ""},
        {"GET", "/api/other", "", {}, ""},
        {"GET", "/downloads/version.json", "", {}, ""},
        {"GET", "/fixtures/x.html", "", {}, ""},
        {"GET", "/elsewhere", "", {}, ""},
        post("/api/trpc/bookmarks.create", "{"),
        post("/api/trpc/bookmarks.fetchMetadata", "{"),
    };
    for (const auto& request : requests) EXPECT_EQ(call(request)->size(), 1u) << request.method << " " << request.path;
}

TEST(DevservicePages, EscapeEverythingUserProvided) {
    const std::string evil = "\"><script>alert(1)</script>";
    Bookmark bookmark{1, "https://e.org/?" + evil, evil, {evil}, true, evil};
    const auto list = pages::bookmarkList(evil, {bookmark}, pages::Notice::saved);
    const auto form = pages::newBookmark(evil, {evil, evil, evil, true}, evil);
    const auto signIn = pages::signIn(evil, evil, evil);
    for (const auto* html : {&list, &form, &signIn}) {
        EXPECT_EQ(html->find("<script>"), std::string::npos);
        EXPECT_NE(html->find("&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    }
}

}  // namespace
