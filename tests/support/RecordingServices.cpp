#include "tests/support/RecordingServices.h"

#include <stdlib.h>

#include "tests/support/AppProcess.h"

namespace testsupport {
namespace {

std::optional<std::string> valueIn(const std::map<std::string, std::string>& values, const std::string& key) {
    const auto found = values.find(key);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
}

}  // namespace

void FakePanel::pressKey(const std::string& character, std::uint16_t) {
    if (character == "\r") return delegate_.panelSave();
    if (character == "\x1b") return delegate_.panelCancel();
    if (focused) texts[*focused] += character;
}

void FakeWebView::callAsyncJavaScript(const std::string& body, const nlohmann::json& arguments, double timeLimitSeconds,
                                      std::function<void(platform::ScriptResult)> done) {
    struct Pending {
        std::function<void(platform::ScriptResult)> done;
        platform::Timer limit;
    };
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    const auto answer = [weakPending = std::weak_ptr(pending)](platform::ScriptResult result) {
        const auto alive = weakPending.lock();
        if (!alive || !alive->done) return;
        alive->limit.cancel();
        std::exchange(alive->done, nullptr)(std::move(result));
    };
    pending->limit = platform::services().runOnceAfter(timeLimitSeconds, [pending, answer] {
        answer({.succeeded = false, .value = nullptr, .error = "the script timed out"});
    });
    scripts.push_back({body, arguments, timeLimitSeconds, answer});
}

RecordingServices::RecordingServices() {
    platform::setServices({
        .runAfter = [this](double seconds, auto work) { timers_.push_back({seconds, std::move(work)}); },
        .repeatEvery = [](double, std::function<void()>) { return platform::Timer(); },
        .runOnceAfter =
            [this](double seconds, std::function<void()> work) {
                auto state = std::make_shared<platform::Timer::State>();
                timers_.push_back({seconds, std::move(work), state});
                return platform::Timer(std::move(state));
            },
        .createMainWindow =
            [this](const platform::MainWindowOptions& options, platform::WebViewDelegate&) {
                auto created = std::make_unique<FakeMainWindow>(options);
                window = created.get();
                return created;
            },
        .createQuickSavePanel =
            [this](platform::QuickSavePanelDelegate& delegate) {
                auto created = std::make_unique<FakePanel>(delegate);
                panel = created.get();
                return created;
            },
        .mainScreenVisibleFrame = [] { return platform::Rect{0, 0, 1920, 1080}; },
        .userDataDirectory = [](const std::string& name) { return "/nonexistent/" + name; },
        .followDesktopColourScheme = [] {},
        .webSandboxProblem = [] { return std::optional<std::string>(); },
        .clipboardText = [this] { return clipboard; },
        .runAlertDialog =
            [this](platform::MainWindow&, const std::string& message, std::function<void()> done) {
                alerts.push_back(message);
                if (done) done();
            },
        .registerGlobalHotKey = [](const std::string&, std::function<void()>) { return true; },
        .unregisterGlobalHotKey = [](const std::string&) {},
        .isWaylandSession = [] { return false; },
        .installStatusItem = [](auto&, auto&, auto&) { return std::unique_ptr<platform::StatusItem>(); },
        .isGnomeSession = [] { return false; },
        .frontmostApplicationId = [this] { return frontApplication; },
        .runCaptureRequest =
            [this](const std::string& request) {
                requestedCaptures.push_back(request);
                return capture;
            },
        .readSetting = [this](const std::string& key) { return valueIn(settings, key); },
        .writeSetting =
            [this](const std::string& key, const std::string& value) {
                if (settingsWritable) settings[key] = value;
                return settingsWritable;
            },
        .startsAtLogin = [this] { return startsAtLogin; },
        .setStartAtLogin =
            [this](bool on) {
                if (loginItemWritable) startsAtLogin = on;
                return loginItemWritable;
            },
        .environmentValue = [this](const std::string& name) { return valueIn(environment, name); },
        .watchNetwork =
            [this](std::function<void(bool)> changed) {
                networkChanged = std::move(changed);
                return std::make_unique<platform::NetworkWatch>();
            },
    });
}

RecordingServices::~RecordingServices() { platform::setServices({}); }

void RecordingServices::runTimers(double seconds) {
    for (std::size_t next = 0; next < timers_.size();) {
        if (timers_[next].seconds > seconds) {
            ++next;
            continue;
        }
        auto work = std::move(timers_[next].work);
        const auto state = std::move(timers_[next].state);
        timers_.erase(timers_.begin() + std::ptrdiff_t(next));
        // A cancelled one-shot timer is dropped unrun.
        if (state && !std::exchange(state->pending, false)) continue;
        work();
        next = 0;
    }
}

std::vector<nlohmann::json> newJournalEvents() {
    static const TemporaryFolder folder;
    static const bool set = setenv("TOLVAR_E2E_DIR", folder.path().c_str(), 1) == 0;
    static std::size_t seen = 0;
    auto events = set ? Journal(folder.path()).events() : std::vector<nlohmann::json>{};
    std::vector<nlohmann::json> fresh(events.begin() + std::ptrdiff_t(std::min(seen, events.size())), events.end());
    seen = events.size();
    return fresh;
}

}  // namespace testsupport
