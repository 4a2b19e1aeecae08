// The quick-save controller's decisions, driven through recording services: what the panel is filled
// with, where the focus goes, when a save may start, and what each reply shows and journals.
#include <gtest/gtest.h>

#include "automation/Commands.h"
#include "automation/E2E.h"
#include "quicksave/QuickSaveController.h"
#include "quicksave/QuickSaveShortcut.h"
#include "quicksave/SaveRequests.h"
#include "tests/support/RecordingServices.h"

namespace {

using nlohmann::json;
using platform::PanelField;
using platform::ScriptResult;
using platform::StatusColour;

ScriptResult createReply(int status, const std::string& text) {
    return {true, json{{"status", status}, {"text", text}}.dump(), ""};
}

class QuickSaveControllerTest : public ::testing::Test {
protected:
    testsupport::RecordingServices services;
    std::shared_ptr<testsupport::FakeWebView> view = std::make_shared<testsupport::FakeWebView>();
    std::shared_ptr<QuickSaveController> controller = std::make_shared<QuickSaveController>();
    int mainWindowShown = 0;

    void SetUp() override {
        testsupport::newJournalEvents();
        ASSERT_TRUE(E2E::enabled());
        controller->webView = view;
        controller->showMainWindow = [this] { ++mainWindowShown; };
        controller->install();
    }
    testsupport::FakePanel& panel() { return *services.panel; }
    // Presents the panel on `address` and presses Return.
    void presentAndSave(const std::string& address) {
        services.clipboard = address;
        E2E::commands().run("present");
        view->scripts.clear();  // the title lookup
        E2E::commands().run("enter");
    }
    json lastEvent(const std::string& name) {
        json found;
        for (auto& event : testsupport::newJournalEvents()) {
            if (event["event"] == name) found = event;
        }
        return found;
    }
};

TEST_F(QuickSaveControllerTest, PresentFillsThePanelFromTheFrontBrowserOrTheClipboard) {
    const platform::CapturedPage page{"https://example.org/tab#top", "The tab"};
    struct Case {
        std::optional<std::string> front;
        std::variant<platform::CapturedPage, int> capture;
        std::optional<std::string> clipboard;
        std::string url, title, status, source;
        PanelField focus;
        int browserError;
    };
    const std::string hint = "Paste a link, or press Ctrl+Alt+B while a browser page is in front.";
    const Case cases[] = {
        {"com.google.Chrome", page, "https://example.org/clip", "https://example.org/tab#top", "The tab", "", "browser",
         PanelField::tags, 0},
        {"com.google.Chrome", 3, " https://example.org/clip \n", "https://example.org/clip", "", "", "clipboard",
         PanelField::tags, 3},
        {"app.tolvar.desktop", page, "https://example.org/clip", "https://example.org/clip", "", "", "clipboard",
         PanelField::tags, 0},
        {std::nullopt, page, "just prose", "", "", hint, "none", PanelField::url, 0},
        {"org.gnome.Terminal", page, "ftp://example.org/file", "", "", hint, "none", PanelField::url, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clipboard.value_or("no clipboard"));
        services.frontApplication = c.front;
        services.capture = c.capture;
        services.clipboard = c.clipboard;
        view->scripts.clear();
        E2E::commands().run("present");
        EXPECT_EQ(panel().text(PanelField::url), c.url);
        EXPECT_EQ(panel().text(PanelField::title), c.title);
        EXPECT_EQ(panel().status(), c.status);
        EXPECT_EQ(panel().focused, c.focus);
        EXPECT_TRUE(panel().visible);
        // An address without a title asks the service for the page's title.
        EXPECT_EQ(view->scripts.size(), c.source == "clipboard" ? 1u : 0u);
        services.runTimers(1);
        const auto presented = lastEvent("presented");
        EXPECT_EQ(presented["source"], c.source);
        EXPECT_EQ(presented["browserError"], c.browserError);
        EXPECT_EQ(presented["focusTag"], c.focus == PanelField::tags);
    }
    EXPECT_EQ(services.requestedCaptures.size(), 2u);  // never for this program's own window
}

TEST_F(QuickSaveControllerTest, AClipboardReadOnceFocusedFillsOnlyAnUntouchedPanel) {
    E2E::commands().run("present");
    services.clipboard = "https://example.org/late";
    panel().onFocus();
    EXPECT_EQ(panel().text(PanelField::url), "https://example.org/late");
    EXPECT_EQ(panel().focused, PanelField::tags);
    EXPECT_EQ(panel().status(), "");

    services.clipboard.reset();
    E2E::commands().run("present");
    E2E::commands().run("type https://example.org/typed");
    services.clipboard = "https://example.org/late";
    panel().onFocus();
    EXPECT_EQ(panel().text(PanelField::url), "https://example.org/typed");
}

TEST_F(QuickSaveControllerTest, RepliesEndTheSaveWithTheirTextAndOnlySuccessHides) {
    const std::string error = R"([{"error":{"json":{"message":"Bookmark limit reached"}}}])";
    struct Case {
        std::optional<ScriptResult> reply;  // nothing: no reply within the time limit
        std::string outcome, status;
        int http;
        bool closes;
    };
    const Case cases[] = {
        {createReply(200, R"([{"result":{"data":{"json":{"id":"b1"}}}}])"), "saved", "Saved ✓", 200, true},
        {createReply(200, R"([{"result":{"data":{"json":{"alreadyExists":true}}}}])"), "already-saved",
         "Already saved ✓", 200, true},
        {createReply(401, error), "failed", "Sign in to Tolvar first (open Tolvar from the menu bar).", 401, false},
        {createReply(500, error), "failed", "Bookmark limit reached", 500, false},
        {ScriptResult{false, nullptr, "TypeError: Load failed"}, "unreachable",
         "Couldn't reach Tolvar. Is the app signed in and online?", 0, false},
        {std::nullopt, "unreachable", "Couldn't reach Tolvar. Is the app signed in and online?", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        presentAndSave("https://example.org/saved");
        ASSERT_EQ(view->scripts.size(), 1u);
        EXPECT_EQ(view->scripts[0].body, SaveRequests::createScript);
        EXPECT_EQ(view->scripts[0].timeLimit, 30);
        EXPECT_EQ(panel().status(), "Saving…");
        EXPECT_FALSE(panel().saveEnabled);
        if (c.reply) view->scripts[0].done(*c.reply);
        services.runTimers(c.reply ? 1 : 30);

        EXPECT_EQ(panel().status(), c.status);
        EXPECT_EQ(panel().colour, c.closes ? StatusColour::secondary : StatusColour::error);
        EXPECT_TRUE(panel().saveEnabled);
        EXPECT_EQ(panel().visible, !c.closes);
        const auto events = testsupport::newJournalEvents();
        ASSERT_FALSE(events.empty());
        const auto result =
            std::find_if(events.begin(), events.end(), [](auto& e) { return e["event"] == "save-result"; });
        ASSERT_NE(result, events.end());
        EXPECT_EQ((*result)["outcome"], c.outcome);
        EXPECT_EQ((*result)["http"], c.http);
        EXPECT_EQ(events.back()["event"], c.closes ? "closed" : "save-result");
    }
}

TEST_F(QuickSaveControllerTest, OneSaveAtATimeAndNoneWithoutAnAddressOrSignedInView) {
    presentAndSave("https://example.org/once");
    E2E::commands().run("enter");
    ASSERT_EQ(view->scripts.size(), 1u);
    const auto firstReply = view->scripts[0].done;

    // Presenting again gives up the pending save: a new one starts, and the old reply is dropped.
    presentAndSave("https://example.org/again");
    EXPECT_EQ(view->scripts.size(), 1u);
    services.runTimers(1);
    testsupport::newJournalEvents();
    firstReply(createReply(200, "[{}]"));
    services.runTimers(1);
    EXPECT_TRUE(testsupport::newJournalEvents().empty());

    E2E::commands().run("present");
    panel().texts[PanelField::url] = "ftp://example.org/file";
    view->scripts.clear();
    E2E::commands().run("enter");
    EXPECT_TRUE(view->scripts.empty());
    EXPECT_EQ(panel().status(), "Enter a web address starting with http:// or https://");
    EXPECT_EQ(lastEvent("save-result")["outcome"], "invalid-url");

    view.reset();
    E2E::commands().run("present");
    E2E::commands().run("enter");
    EXPECT_EQ(panel().status(), "Open Tolvar and sign in first.");
    EXPECT_EQ(mainWindowShown, 1);

    E2E::commands().run("esc");
    EXPECT_FALSE(panel().visible);
    EXPECT_EQ(lastEvent("closed")["by"], "cancel");
}

TEST_F(QuickSaveControllerTest, ARecordedShortcutIsSavedOrSaysItCouldNotBe) {
    const std::string key(QuickSaveShortcut::settingKey);
    auto change = controller->changeShortcut("<Ctrl><Alt>K");
    EXPECT_TRUE(change.accepted);
    EXPECT_EQ(change.message, "");
    EXPECT_EQ(services.settings[key], "<Ctrl><Alt>K");

    services.settingsWritable = false;
    change = controller->changeShortcut("<Ctrl><Alt>J");
    EXPECT_TRUE(change.accepted);
    EXPECT_EQ(change.message, "Ctrl+Alt+J works until Tolvar quits: it could not be saved.");
    EXPECT_EQ(controller->shortcutInEffect(), "Ctrl+Alt+J");
    EXPECT_EQ(services.settings[key], "<Ctrl><Alt>K");
}

TEST_F(QuickSaveControllerTest, ALookedUpTitleYieldsToATypedTitleOrAnotherAddress) {
    services.clipboard = "https://example.org/titled";
    for (const std::string typed : {"", "My own title"}) {
        E2E::commands().run("present");
        panel().texts[PanelField::title] = typed;
        view->scripts.back().done({true, "The page's title", ""});
        services.runTimers(1);
        EXPECT_EQ(panel().text(PanelField::title), typed.empty() ? "The page's title" : typed);
    }
    E2E::commands().run("present");
    panel().texts[PanelField::url] = "https://example.org/other";
    view->scripts.back().done({true, "The page's title", ""});
    services.runTimers(1);
    EXPECT_EQ(panel().text(PanelField::title), "");

    // A title that comes after the time limit is not used.
    E2E::commands().run("present");
    services.runTimers(30);
    view->scripts.back().done({true, "The page's title", ""});
    services.runTimers(1);
    EXPECT_EQ(panel().text(PanelField::title), "");
}

}  // namespace
