#include "quicksave/QuickSaveController.h"

#include <variant>

#include "automation/Commands.h"
#include "automation/E2E.h"
#include "core/ApplicationId.h"
#include "core/Browsers.h"
#include "platform/Services.h"
#include "core/Text.h"
#include "quicksave/QuickSaveLogic.h"
#include "quicksave/QuickSaveShortcut.h"
#include "quicksave/SaveRequests.h"

namespace {

using platform::PanelField;
using platform::StatusColour;

const std::string ownIdentifier(core::applicationId);
constexpr double presentedDelay = 0.3;
constexpr double hideAfterSaveDelay = 0.7;
// A save or title lookup that the service has not answered by then never will, as far as the
// user is concerned: the save ends as unreachable, a title answer is no longer used.
constexpr double serviceReplyLimit = 30;
// Building the panel costs most of the first hot-key press (tenths of a second against a few
// milliseconds later): it is built, hidden, once launch and the first page are done.
constexpr double panelBuildDelay = 5;

}  // namespace

QuickSaveController& QuickSaveController::shared() {
    static const auto instance = std::make_shared<QuickSaveController>();
    return *instance;
}

void QuickSaveController::install() {
    const auto weakSelf = weak_from_this();
    // The shortcut only queues present(): the panel is never built inside the key handler.
    const auto presentLater = [weakSelf] {
        platform::services().runAfter(0, [weakSelf] {
            if (auto self = weakSelf.lock()) self->present();
        });
    };
    const auto stored = platform::services().readSetting(std::string(QuickSaveShortcut::settingKey));
    x11Combination_ = QuickSaveShortcut::chosenCombination(stored);
    x11KeyHeld_ = grab(x11Combination_);
    const auto shown = QuickSaveShortcut::texts(QuickSaveShortcut::triggerInEffect(
        x11KeyHeld_ ? std::optional<std::string>(x11Combination_.label()) : std::nullopt, std::nullopt));
    statusItem_ = platform::services().installStatusItem(
        ownIdentifier, shown.tooltip,
        {platform::MenuItem{.title = shown.statusMenuTitle,
                            .action = [weakSelf] {
                                if (auto self = weakSelf.lock()) self->menuQuickSave();
                            }},
         platform::MenuItem{.title = "Open Tolvar",
                            .action = [weakSelf] {
                                if (auto self = weakSelf.lock()) self->menuOpen();
                            }},
         platform::MenuItem::separatorItem(),
         platform::MenuItem{.title = "Quit Tolvar", .standard = platform::StandardAction::quit}});
    showTrigger(false);
    showStatusItem(statusItemWanted());
    if (QuickSaveShortcut::shouldAskPortal(x11KeyHeld_, platform::services().isWaylandSession())) {
        portalShortcut_ = platform::services().bindPortalShortcut(
            {.applicationId = ownIdentifier,
             .shortcutId = std::string(QuickSaveShortcut::portalShortcutId),
             .description = std::string(QuickSaveShortcut::portalDescription),
             .preferredTrigger = std::string(QuickSaveShortcut::portalPreferredTrigger),
             .mayAskToBind = !platform::services().readSetting(std::string(QuickSaveShortcut::portalBindAskedKey))},
            {.triggerChanged =
                 [weakSelf](const std::optional<std::string>& trigger) {
                     auto self = weakSelf.lock();
                     if (!self) return;
                     self->portalTrigger_ = trigger;
                     self->showTrigger(true);
                 },
             .activated =
                 [presentLater](const std::string& activationToken) {
                     platform::services().noteActivationToken(activationToken);
                     presentLater();
                 },
             .bindingAsked =
                 [] {
                     platform::services().writeSetting(std::string(QuickSaveShortcut::portalBindAskedKey), "true");
                 }});
    }
    if (platform::services().isGnomeSession()) {
        gnomeKeybindings_ = platform::services().openGnomeKeybindings([weakSelf] {
            if (auto self = weakSelf.lock()) self->followGnomeKeybinding();
        });
        if (gnomeKeybindings_) followGnomeKeybinding();
    }
    registerCommands();
    platform::services().runAfter(panelBuildDelay, [weakSelf] {
        auto self = weakSelf.lock();
        if (self && !self->panel_) self->panel_ = platform::services().createQuickSavePanel(*self);
    });
}

void QuickSaveController::showTrigger(bool journaled) {
    trigger_ = QuickSaveShortcut::triggerInEffect(
        x11KeyHeld_ ? std::optional<std::string>(x11Combination_.label()) : std::nullopt, portalTrigger_, gnomeTrigger_);
    const auto shown = QuickSaveShortcut::texts(trigger_);
    if (statusItem_) {
        statusItem_->setItemTitle(0, shown.statusMenuTitle);
        statusItem_->setTooltip(shown.tooltip);
    }
    if (showQuickSaveMenuTitle) showQuickSaveMenuTitle(shown.bookmarksMenuTitle);
    if (!journaled) return;
    E2E::report("shortcut", {{"trigger", trigger_.value_or("")},
                             {"statusMenu", statusItem_ ? statusItem_->itemTitle(0) : ""},
                             {"bookmarksMenu", shown.bookmarksMenuTitle},
                             {"tooltip", shown.tooltip},
                             {"hint", shown.hint}});
}

void QuickSaveController::menuOpen() {
    if (showMainWindow) showMainWindow();
}

std::string QuickSaveController::fieldText(PanelField field) const { return panel_ ? panel_->text(field) : ""; }

void QuickSaveController::setStatus(const std::string& text, StatusColour colour) {
    if (panel_) panel_->setStatus(text, colour);
}

std::optional<QuickSaveController::Page> QuickSaveController::capturePage(const std::optional<std::string>& front) {
    if (!front || *front == ownIdentifier) return std::nullopt;
    const auto request = QuickSaveLogic::tabScript(*front);
    if (!request) return std::nullopt;
    auto answer = platform::services().runCaptureRequest(*request);
    if (const int* error = std::get_if<int>(&answer)) {
        lastBrowserError_ = *error;
        return std::nullopt;
    }
    const auto& page = std::get<platform::CapturedPage>(answer);
    auto address = QuickSaveLogic::cleanedWebURL(page.address);
    if (!address) return std::nullopt;
    return Page{*address, page.title};
}

void QuickSaveController::present() {
    if (panelPresented) panelPresented();
    const unsigned presentation = ++presentations_;
    lastBrowserError_.reset();
    // Asked once: each answer costs round trips to the window system on the hot key's path.
    const auto front = platform::services().frontmostApplicationId();
    const std::string frontApp = front.value_or("");
    const auto page = capturePage(front);
    if (!panel_) panel_ = platform::services().createQuickSavePanel(*this);
    fill(page, front);

    const bool noAddress = fieldText(PanelField::url).empty();
    panel_->present(noAddress ? PanelField::url : PanelField::tags);
    if (!page && noAddress && frontApp != ownIdentifier) fillFromClipboardOnceFocused(presentation);

    if (fieldText(PanelField::title).empty()) {
        if (auto address = QuickSaveLogic::cleanedWebURL(fieldText(PanelField::url))) fillTitle(*address);
    }
    if (E2E::enabled()) schedulePresentedEvent(page.has_value(), frontApp);
}

// A Wayland compositor hands the clipboard only to the client with the keyboard focus, which
// this program had not when present() began; the clipboard is read again once the panel has it.
void QuickSaveController::fillFromClipboardOnceFocused(unsigned presentation) {
    panel_->whenFocused([weakSelf = weak_from_this(), presentation] {
        auto self = weakSelf.lock();
        if (!self || !self->panel_ || presentation != self->presentations_) return;
        // An address typed meanwhile wins.
        if (!self->panel_->isVisible() || !self->fieldText(PanelField::url).empty()) return;
        const auto address = QuickSaveLogic::cleanedWebURL(platform::services().clipboardText().value_or(""));
        if (!address) return;
        self->panel_->setText(PanelField::url, *address);
        self->panel_->setStatus("", StatusColour::secondary);
        self->offerBrowserSetup(platform::services().frontmostApplicationId());
        self->panel_->focus(PanelField::tags);
        if (self->fieldText(PanelField::title).empty()) self->fillTitle(*address);
    });
}

void QuickSaveController::fill(const std::optional<Page>& page, const std::optional<std::string>& front) {
    std::string address;
    if (page) address = page->address;
    else address = QuickSaveLogic::cleanedWebURL(platform::services().clipboardText().value_or("")).value_or("");
    panel_->setText(PanelField::url, address);
    panel_->setText(PanelField::title, page ? page->title : "");
    panel_->setText(PanelField::tags, "");
    panel_->setReadLater(false);
    panel_->setStatus(page || !address.empty() ? "" : QuickSaveShortcut::texts(trigger_).hint, StatusColour::secondary);
    offerBrowserSetup(front);
    panel_->setSaveEnabled(true);
    saving_ = false;
}

// When the front browser's extension has never reported (browser error 2), one line says so and
// links to the Browsers section of Preferences, where the extension can be set up.
void QuickSaveController::offerBrowserSetup(const std::optional<std::string>& front) {
    constexpr int noExtensionReport = 2;
    const auto* browser = front ? core::browserForIdentifier(*front) : nullptr;
    if (lastBrowserError_ != noExtensionReport || browser == nullptr || !showBrowserPreferences) return;
    panel_->setStatus("No page from " + std::string(browser->applicationName) + ": its Tolvar extension has not reported.",
                      StatusColour::secondary);
    panel_->setStatusLink("Browser settings…", [weakSelf = weak_from_this()] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (self->panel_) self->panel_->hide();
        if (self->showBrowserPreferences) self->showBrowserPreferences();
    });
}

void QuickSaveController::schedulePresentedEvent(bool captured, const std::string& frontApp) {
    platform::services().runAfter(presentedDelay, [weakSelf = weak_from_this(), captured, frontApp] {
        auto self = weakSelf.lock();
        if (!self || !self->panel_) return;
        const auto& panel = *self->panel_;
        const std::string url = panel.text(PanelField::url);
        const auto size = panel.frameSize();
        E2E::report("presented",
                    {{"url", url},
                     {"title", panel.text(PanelField::title)},
                     {"source", captured ? "browser" : (url.empty() ? "none" : "clipboard")},
                     {"frontApp", frontApp},
                     {"browserError", self->lastBrowserError_.value_or(0)},
                     {"status", panel.status()},
                     {"statusLink", panel.statusLink()},
                     {"visible", panel.isVisible()},
                     {"clipped", self->clippedControls()},
                     {"key", panel.isKey()},
                     {"focusTag", panel.tagsFieldHasFocus()},
                     {"width", size.width},
                     {"height", size.height}},
                    &panel);
    });
}

void QuickSaveController::cancelPanel() {
    if (panel_) panel_->hide();
    E2E::report("closed", {{"visible", panel_ && panel_->isVisible()}, {"by", "cancel"}});
}

std::vector<std::string> QuickSaveController::clippedControls() const {
    if (!panel_) return {};
    return SaveRequests::clippedControls(panel_->contentLayoutRect(), panel_->controlFrames());
}

void QuickSaveController::save() {
    if (saving_) return;
    const auto address = QuickSaveLogic::cleanedWebURL(fieldText(PanelField::url));
    if (!address) {
        setStatus("Enter a web address starting with http:// or https://", StatusColour::error);
        reportSaveResult("invalid-url", std::nullopt);
        return;
    }
    auto view = webView.lock();
    std::optional<std::string> body;
    if (view) {
        body = QuickSaveLogic::createBody(*address, fieldText(PanelField::title),
                                          QuickSaveLogic::parseTags(fieldText(PanelField::tags)),
                                          panel_ && panel_->readLater());
    }
    if (!body) {
        setStatus("Open Tolvar and sign in first.", StatusColour::error);
        if (showMainWindow) showMainWindow();
        return;
    }
    saving_ = true;
    if (panel_) panel_->setSaveEnabled(false);
    setStatus("Saving…", StatusColour::secondary);
    const std::uint64_t number = ++saveCount_;
    awaitedSave_ = number;
    // The reply, or the failure of a script that did not answer in time, ends the save unless a
    // later save replaced it.
    auto endSave = [weakSelf = weak_from_this(), number](const platform::ScriptResult& result) {
        auto self = weakSelf.lock();
        if (!self || self->awaitedSave_ != number) return;
        self->awaitedSave_.reset();
        self->handleCreateReply(result);
    };
    view->callAsyncJavaScript(SaveRequests::createScript, {{"body", *body}}, serviceReplyLimit,
                              [endSave](platform::ScriptResult result) {
                                  // Handled on a later turn of the main loop, never inside the callback.
                                  platform::services().runAfter(
                                      0, [endSave, result = std::move(result)] { endSave(result); });
                              });
}

void QuickSaveController::handleCreateReply(const platform::ScriptResult& result) {
    saving_ = false;
    if (panel_) panel_->setSaveEnabled(true);
    const auto reply = SaveRequests::decodeCreateReply(result);
    if (!reply) {
        setStatus("Couldn't reach Tolvar. Is the app signed in and online?", StatusColour::error);
        reportSaveResult("unreachable", 0);
        return;
    }
    const auto outcome = QuickSaveLogic::outcome(reply->text, reply->status);
    switch (outcome.kind()) {
        case SaveOutcome::Kind::failed:
            setStatus(outcome.message(), StatusColour::error);
            reportSaveResult("failed", reply->status);
            return;
        case SaveOutcome::Kind::saved:
            setStatus("Saved ✓", StatusColour::secondary);
            reportSaveResult("saved", reply->status);
            break;
        case SaveOutcome::Kind::alreadySaved:
            setStatus("Already saved ✓", StatusColour::secondary);
            reportSaveResult("already-saved", reply->status);
            break;
    }
    // The hide keeps the controller alive until it has run.
    platform::services().runAfter(hideAfterSaveDelay, [self = shared_from_this()] {
        if (self->panel_) self->panel_->hide();
        E2E::report("closed", {{"visible", self->panel_ && self->panel_->isVisible()}, {"by", "save"}});
    });
}

void QuickSaveController::reportSaveResult(const std::string& outcome, std::optional<std::int64_t> http) {
    nlohmann::json fields = {{"outcome", outcome}, {"status", panel_ ? panel_->status() : ""}};
    if (http) {
        fields["http"] = *http;
        fields["clipped"] = clippedControls();
        fields["tags"] = fieldText(PanelField::tags);
    }
    E2E::report("save-result", std::move(fields), panel_.get());
}

void QuickSaveController::fillTitle(const std::string& address) {
    auto view = webView.lock();
    if (!view) return;
    const auto body = SaveRequests::titleRequestBody(address);
    if (!body) return;
    // A title that takes longer than the time limit fails, and ends silently.
    view->callAsyncJavaScript(
        SaveRequests::titleScript, {{"body", *body}}, serviceReplyLimit,
        [weakSelf = weak_from_this(), address](platform::ScriptResult result) {
            platform::services().runAfter(0, [weakSelf, address, result = std::move(result)] {
                auto self = weakSelf.lock();
                if (!self || !self->panel_ || !result.succeeded || !result.value.is_string()) return;
                const auto title = result.value.get<std::string>();
                if (title.empty()) return;
                // A title typed meanwhile wins; an answer for a replaced address is dropped.
                if (!self->fieldText(PanelField::title).empty()) return;
                if (self->fieldText(PanelField::url) != address) return;
                self->panel_->setText(PanelField::title,
                                      core::leadingCharacters(title, QuickSaveLogic::longestTitle));
                E2E::report("title-filled", {{"title", title}});
            });
        });
}

void QuickSaveController::registerCommands() {
    auto& commands = E2E::commands();
    const auto weakSelf = weak_from_this();
    commands.add("present", [weakSelf](const std::string&) {
        if (auto self = weakSelf.lock()) self->present();
    });
    commands.add("type", [weakSelf](const std::string& text) {
        auto self = weakSelf.lock();
        if (!self) return;
        for (const auto& character : QuickSaveLogic::characters(text)) self->key(character, 0);
    });
    commands.add("enter", [weakSelf](const std::string&) {
        if (auto self = weakSelf.lock()) self->key("\r", 36);
    });
    commands.add("esc", [weakSelf](const std::string&) {
        if (auto self = weakSelf.lock()) self->key("\x1b", 53);
    });
    commands.add("follow-status-link", [weakSelf](const std::string&) {
        if (auto self = weakSelf.lock(); self && self->panel_) self->panel_->followStatusLink();
    });
}

void QuickSaveController::key(const std::string& character, std::uint16_t code) {
    if (panel_) panel_->pressKey(character, code);
}
