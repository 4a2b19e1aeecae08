// What a user feels, measured from outside: start-up, memory, the quick-save panel's latency, a
// save's round trip, the update check's throughput and idle activity, for Tolvar beside a bare
// WebKitGTK window (the floor of this stack) and Chromium's app mode; and Tolvar waiting in the tray
// (its page asleep and woken) beside a bare GTK tray program. Every program runs on a private
// display and D-Bus session of its own; rounds interleave the programs.
#include <sys/prctl.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <random>
#include <set>
#include <thread>

#include "tests/support/DevService.h"
#include "bench/Figures.h"
#include "bench/PrivateSession.h"
#include "bench/ProcessTree.h"
#include "tests/support/LoopbackHttpServer.h"

namespace bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* panelTitle = "Save to Tolvar";
constexpr const char* mainWindowTitle = "Tolvar";
constexpr const char* hostWindowTitle = "WebKitGTK host";
constexpr const char* demoSession = "bench-session";

struct Options {
    int rounds = 5;
    int idleSeconds = 60;
    int idleRounds = 1;  // rounds that also watch the idle program (each takes idleSeconds more)
    int settleSeconds = 10;  // after launch, before the idle window: the launch-time update check
    int memoryDelaySeconds = 3;
    long bundleMegabytes = 100;
    bool quick = false;
    bool verbose = false;
    std::set<std::string> only;  // stages to run; empty: all
    fs::path tolvar = TOLVAR_EXECUTABLE;
    fs::path webkitHost = WEBKIT_HOST_EXECUTABLE;
    fs::path gtkTray = GTK_TRAY_EXECUTABLE;
    int traySleepSeconds = 20;  // the page's sleep delay in the tray round
    fs::path codesign = CODESIGN_EXECUTABLE;
    fs::path chromium = "/usr/bin/chromium";
};

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double megabytes(long kib) { return kib / 1024.0; }

// A page that tells the benchmark, through a request of its own, that it has loaded.
class BeaconServer {
public:
    BeaconServer()
        : server_([this](const testsupport::HttpRequest& request) {
              if (request.target.starts_with("/beacon")) {
                  std::lock_guard lock(mutex_);
                  arrivals_.push_back(Clock::now());
                  arrived_.notify_all();
                  return testsupport::HttpResponse{.status = 204, .contentType = "text/plain"};
              }
              if (request.target != "/page") return testsupport::HttpResponse{.status = 404};
              return testsupport::HttpResponse{.body = page};
          }) {}

    std::string url() const { return server_.url("/page"); }

    std::optional<Clock::time_point> waitForBeacon(std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [this] { return !arrivals_.empty(); })) return std::nullopt;
        return arrivals_.front();
    }

private:
    static constexpr const char* page =
        "<!doctype html><html><head><meta charset=\"utf-8\"><title>Benchmark page</title></head>"
        "<body><h1>Benchmark page</h1><p>A short page on loopback.</p>"
        "<script>addEventListener('load', () => fetch('/beacon', {method: 'POST'}));</script></body></html>";
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Clock::time_point> arrivals_;
    testsupport::LoopbackHttpServer server_;  // last: its threads use the members above
};

// Watches the automation journal closely (the shared journal reader polls every 50 ms).
// Only the part of the journal after `after` bytes counts.
bool waitForJournal(const fs::path& folder, const std::string& text, std::chrono::seconds timeout,
                    std::size_t after = 0) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const std::string journal = testsupport::readFile(folder / "events.jsonl");
        if (journal.size() > after && journal.find(text, after) != std::string::npos) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

void printBreakdown(const std::string& title, pid_t root) {
    std::cerr << title << ":\n";
    for (pid_t pid : processTree(root)) {
        std::cerr << "  " << pid << " " << processName(pid) << " " << megabytes(totalPssKiB({pid})) << " MB\n";
        const auto mappings = pssByMapping(pid);
        for (std::size_t i = 0; i < mappings.size() && i < 14; ++i) {
            std::cerr << "      " << mappings[i].second << " KiB " << mappings[i].first << "\n";
        }
    }
}

class Bench {
public:
    explicit Bench(Options options) : options_(std::move(options)) {}

    void run();
    nlohmann::json report(std::ostream& table) const;

private:
    void startRound(const std::string& name, const fs::path& program, const std::vector<std::string>& arguments,
                    bool watchIdle);
    void idleRound(const std::string& name, PrivateSession& session, testsupport::AppProcess& app,
                   Clock::time_point launched);
    void panelRound(int round);
    void coldQuickSaveRound();
    void trayRound(int round);
    void gtkTrayRound();
    void prepareBundle();
    void verifyRound();
    void sleepFor(std::chrono::milliseconds pause) const { std::this_thread::sleep_for(pause); }
    bool wanted(const std::string& stage) const { return options_.only.empty() || options_.only.count(stage); }

    Options options_;
    Figures figures_;
    testsupport::TemporaryFolder work_;
    fs::path bundle_;
    std::vector<std::string> bundleFiles_;
    double bundleMegabytes_ = 0;
};

void Bench::run() {
    if (wanted("verify")) prepareBundle();
    const bool haveChromium = fs::exists(options_.chromium);
    if (!haveChromium) figures_.note("chromium not found at " + options_.chromium.string() + ": skipped");
    for (int round = 1; round <= options_.rounds; ++round) {
        std::cerr << "round " << round << " of " << options_.rounds << "\n";
        const bool watchIdle = round <= options_.idleRounds;
        if (wanted("webkit")) startRound("webkit", options_.webkitHost, {}, watchIdle);
        if (haveChromium && wanted("chromium")) {
            std::vector<std::string> arguments{"--no-first-run", "--no-default-browser-check", "--window-size=1088,800"};
            if (geteuid() == 0) arguments.push_back("--no-sandbox");  // Chromium refuses to run as root otherwise
            startRound("chromium", options_.chromium, arguments, false);
        }
        if (wanted("tolvar")) startRound("tolvar", options_.tolvar, {}, watchIdle);
        if (wanted("panel")) panelRound(round);
        if (wanted("cold")) coldQuickSaveRound();
        if (wanted("tray")) {
            trayRound(round);
            gtkTrayRound();
        }
        if (wanted("verify")) verifyRound();
    }
}

// Spawn -> beacon, then the memory of the whole process tree a little later; then, when asked, the
// program is watched while idle with its window hidden.
void Bench::startRound(const std::string& name, const fs::path& program, const std::vector<std::string>& arguments,
                       bool watchIdle) {
    PrivateSession session;
    BeaconServer beacon;
    auto environment = session.environment();
    auto words = arguments;
    if (name == "chromium") {
        words.push_back("--user-data-dir=" + (session.home() / "chromium").string());
        words.push_back("--app=" + beacon.url());
    } else if (name == "webkit") {
        words.push_back(beacon.url());
    } else {
        environment["TOLVAR_START_URL"] = beacon.url();
    }
    const auto launched = Clock::now();
    testsupport::AppProcess app(program, environment, words);
    const auto loaded = beacon.waitForBeacon(60s);
    if (!loaded) {
        figures_.note(name + ": the page did not load within 60 s");
        return;
    }
    figures_.add("start." + name, std::chrono::duration<double, std::milli>(*loaded - launched).count());
    sleepFor(std::chrono::seconds(options_.memoryDelaySeconds));
    const auto tree = processTree(app.pid());
    figures_.add("memory." + name, megabytes(totalPssKiB(tree)));
    figures_.add("memoryAlone." + name, megabytes(distinctResidentKiB(tree)));
    if (options_.verbose) printBreakdown(name + " after load", app.pid());
    if (watchIdle) idleRound(name, session, app, launched);
}

// Hides the main window as its close button does, waits for the launch-time work to settle, then
// watches the processes for the idle window.
void Bench::idleRound(const std::string& name, PrivateSession& session, testsupport::AppProcess& app,
                      Clock::time_point launched) {
    const std::string title = name == "tolvar" ? mainWindowTitle : hostWindowTitle;
    const auto window = session.x().windowTitled(title);
    if (!window) return figures_.note(name + ": no main window titled \"" + title + "\"");
    session.x().close(*window);
    if (!session.x().waitHidden(*window, 5s)) figures_.note(name + ": the main window did not hide");
    std::this_thread::sleep_until(launched + std::chrono::seconds(options_.settleSeconds));
    ActivityWatch watch(app.pid());
    const auto end = Clock::now() + std::chrono::seconds(options_.idleSeconds);
    while (Clock::now() < end) {
        sleepFor(std::min<std::chrono::milliseconds>(500ms, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                 end - Clock::now())));
        watch.sample();
    }
    figures_.add("memoryHidden." + name, megabytes(totalPssKiB(processTree(app.pid()))));
    figures_.add("idleCpu." + name, watch.cpuTicks() * 1000.0 / sysconf(_SC_CLK_TCK));
    figures_.add("idleWakeUps." + name, double(watch.wakeUps()));
    figures_.add("idleThreadsStarted." + name, double(watch.threadsStarted()));
    if (options_.verbose) {
        std::cerr << "idle wake-ups by thread:\n";
        for (const auto& [thread, count] : watch.wakeUpsByThread()) std::cerr << "  " << thread << " " << count << "\n";
        printBreakdown(name + " after idle", app.pid());
    }
}

// Against the stand-in service, signed in, in automation mode: hot key -> panel, Return -> saved,
// hot key again, and `tolvar --quick-save` into the running instance.
void Bench::panelRound(int round) {
    PrivateSession session;
    auto& x = session.x();
    const fs::path automation = session.home() / "automation";
    fs::create_directories(automation);
    testsupport::ServiceProcess service({"--port", "0", "--data", (session.home() / "service").string(),
                                     "--demo-session", demoSession});
    auto environment = session.environment();
    environment["TOLVAR_E2E_DIR"] = automation.string();
    environment["TOLVAR_E2E_SESSION"] = demoSession;
    environment["TOLVAR_START_URL"] = service.base() + "/app";
    const auto launched = Clock::now();
    testsupport::AppProcess app(options_.tolvar, environment);
    testsupport::Journal journal(automation);
    if (!journal.waitFor("web-loaded", 60s)) return figures_.note("panel round: the service page did not load");
    // A user reaches for the hot key some time after start-up, not in its first seconds.
    std::this_thread::sleep_until(launched + std::chrono::seconds(options_.settleSeconds));
    session.setClipboard("https://example.org/benchmark-" + std::to_string(round));

    auto hotKey = [&](const char* figure) -> std::optional<unsigned long> {
        const auto pressed = Clock::now();
        x.pressKey("b", {"Control_L", "Alt_L"});
        const auto panel = x.waitViewable(panelTitle, 10s);
        if (panel) figures_.add(figure, millisecondsSince(pressed));
        else figures_.note("panel round: the hot key brought no panel");
        return panel;
    };
    auto panel = hotKey("hotKeyFirst");
    if (!panel) return;

    x.focus(*panel);
    const auto pressed = Clock::now();
    x.pressKey("Return");
    if (waitForJournal(automation, "\"event\":\"save-result\"", 30s)) {
        figures_.add("save", millisecondsSince(pressed));
    } else {
        figures_.note("panel round: no save-result");
    }
    x.waitHidden(*panel, 5s);

    if (hotKey("hotKey")) x.close(*panel);
    x.waitHidden(*panel, 5s);

    const auto spawned = Clock::now();
    testsupport::AppProcess second(options_.tolvar, environment, {"--quick-save"});
    if (x.waitViewable(panelTitle, 10s)) figures_.add("quickSaveRunning", millisecondsSince(spawned));
    else figures_.note("panel round: --quick-save brought no panel");
    second.terminate(10s);
}

// Tolvar as it starts at login, --background, against the stand-in service in automation mode:
// the tree's memory at 10 s, after the panel was used and hidden, and once the page slept; from
// sleep, hot key -> title filled, and hot key then Return at once -> saved.
void Bench::trayRound(int round) {
    PrivateSession session;
    auto& x = session.x();
    const fs::path automation = session.home() / "automation";
    fs::create_directories(automation);
    testsupport::ServiceProcess service({"--port", "0", "--data", (session.home() / "service").string(),
                                         "--demo-session", demoSession, "--pages",
                                         testsupport::builtInFixtures().string()});
    auto environment = session.environment();
    environment["TOLVAR_E2E_DIR"] = automation.string();
    environment["TOLVAR_E2E_SESSION"] = demoSession;
    environment["TOLVAR_START_URL"] = service.base() + "/app";
    environment["TOLVAR_ENGINE_SLEEP_SECONDS"] = std::to_string(options_.traySleepSeconds);
    const auto launched = Clock::now();
    testsupport::AppProcess app(options_.tolvar, environment, {"--background"});
    auto journalSize = [&] { return testsupport::readFile(automation / "events.jsonl").size(); };
    auto memory = [&](const std::string& figure, const std::string& moment) {
        const auto tree = processTree(app.pid());
        figures_.add(figure, megabytes(totalPssKiB(tree)));
        figures_.add(figure + ".alone", megabytes(distinctResidentKiB(tree)));
        if (options_.verbose) printBreakdown("tolvar --background " + moment, app.pid());
    };
    auto fallAsleep = [&](std::size_t after) {
        const bool asleep = waitForJournal(automation, "\"event\":\"engine-suspended\"", 
                                           std::chrono::seconds(options_.traySleepSeconds + 30), after);
        if (!asleep) figures_.note("tray round: the page did not sleep");
        sleepFor(2s);  // the ended process is gone from the tree
        return asleep;
    };
    // The service fetches the title of a page of its own.
    const std::string page = service.base() + "/fixtures/title.html?round=" + std::to_string(round);
    auto hotKey = [&]() -> std::optional<unsigned long> {
        session.setClipboard(page);
        x.pressKey("b", {"Control_L", "Alt_L"});
        auto panel = x.waitViewable(panelTitle, 10s);
        if (!panel) figures_.note("tray round: the hot key brought no panel");
        return panel;
    };

    std::this_thread::sleep_until(launched + 10s);
    memory("memory.tray.background", "at 10 s");

    std::size_t mark = journalSize();
    auto pressed = Clock::now();
    auto panel = hotKey();
    if (!panel) return;
    if (waitForJournal(automation, "\"event\":\"title-filled\"", 30s, mark)) {
        figures_.add("tray.titleFromStart", millisecondsSince(pressed));
    }
    x.close(*panel);
    x.waitHidden(*panel, 5s);
    sleepFor(std::chrono::seconds(options_.memoryDelaySeconds));
    memory("memory.tray.afterPanel", "after the panel");
    // The same press with the page awake, for comparison with the one from sleep.
    pressed = Clock::now();
    panel = hotKey();
    if (!panel) return;
    figures_.add("tray.hotKeyAwake", millisecondsSince(pressed));
    x.close(*panel);
    x.waitHidden(*panel, 5s);

    if (!fallAsleep(mark)) return;
    memory("memory.tray.asleep", "asleep");

    mark = journalSize();
    pressed = Clock::now();
    panel = hotKey();
    if (!panel) return;
    figures_.add("tray.hotKeyFromSleep", millisecondsSince(pressed));
    if (waitForJournal(automation, "\"event\":\"title-filled\"", 30s, mark)) {
        figures_.add("tray.titleFromSleep", millisecondsSince(pressed));
    } else {
        figures_.note("tray round: no title-filled from sleep");
    }
    x.close(*panel);
    x.waitHidden(*panel, 5s);
    if (!fallAsleep(mark)) return;

    mark = journalSize();
    panel = hotKey();
    if (!panel) return;
    x.focus(*panel);
    pressed = Clock::now();
    x.pressKey("Return");
    if (waitForJournal(automation, "\"event\":\"save-result\"", 30s, mark)) {
        figures_.add("tray.saveFromSleep", millisecondsSince(pressed));
        if (testsupport::readFile(automation / "events.jsonl").find("\"outcome\":\"saved\"", mark) == std::string::npos) {
            figures_.note("tray round: the save from sleep did not succeed");
        }
    } else {
        figures_.note("tray round: no save-result from sleep");
    }
    if (options_.verbose) std::cerr << "tray round journal:\n" << testsupport::readFile(automation / "events.jsonl");
}

// The bare GTK tray program: a hidden window, a status item with a menu and a key grab, at 10 s.
void Bench::gtkTrayRound() {
    PrivateSession session;
    testsupport::AppProcess app(options_.gtkTray, session.environment());
    sleepFor(10s);
    const auto tree = processTree(app.pid());
    figures_.add("memory.tray.gtk", megabytes(totalPssKiB(tree)));
    figures_.add("memory.tray.gtk.alone", megabytes(distinctResidentKiB(tree)));
    if (options_.verbose) printBreakdown("GTK tray program at 10 s", app.pid());
}

// `tolvar --quick-save` with no Tolvar running: it starts Tolvar, which opens the panel.
void Bench::coldQuickSaveRound() {
    PrivateSession session;
    BeaconServer beacon;
    auto environment = session.environment();
    environment["TOLVAR_START_URL"] = beacon.url();
    const auto spawned = Clock::now();
    testsupport::AppProcess app(options_.tolvar, environment, {"--quick-save"});
    if (session.x().waitViewable(panelTitle, 60s)) figures_.add("quickSaveCold", millisecondsSince(spawned));
    else figures_.note("cold --quick-save brought no panel");
}

// A signed copy of the built bundle, grown to the size asked with incompressible files.
void Bench::prepareBundle() {
    bundle_ = work_.path() / "Tolvar.app";
    fs::copy(options_.tolvar.parent_path().parent_path(), bundle_, fs::copy_options::recursive);
    fs::remove_all(bundle_ / "_CodeSignature");
    auto total = [this] {
        std::uintmax_t bytes = 0;
        for (const auto& entry : fs::recursive_directory_iterator(bundle_)) {
            if (entry.is_regular_file()) bytes += entry.file_size();
        }
        return bytes;
    };
    const std::uintmax_t wanted = std::uintmax_t(options_.bundleMegabytes) * 1000 * 1000;
    const std::uintmax_t present = total();
    fs::create_directories(bundle_ / "share" / "payload");
    std::mt19937_64 random(18);
    constexpr std::uintmax_t fileSize = 10 * 1000 * 1000;
    for (std::uintmax_t written = present, index = 0; written < wanted; ++index) {
        const std::uintmax_t size = std::min(fileSize, wanted - written);
        std::vector<std::uint64_t> words(size / 8 + 1);
        for (auto& word : words) word = random();
        std::ofstream(bundle_ / "share" / "payload" / ("part-" + std::to_string(index) + ".bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(words.data()), std::streamsize(size));
        written += size;
    }
    const fs::path key = work_.path() / "team.pem";
    if (runQuietly({options_.codesign.string(), "--generate-key", key.string()}) != 0 ||
        runQuietly({options_.codesign.string(), "--sign", key.string(), bundle_.string()}) != 0) {
        throw std::runtime_error("could not sign the benchmark bundle");
    }
    bundleMegabytes_ = total() / 1e6;
    for (const auto& entry : fs::recursive_directory_iterator(bundle_)) {
        if (entry.is_regular_file() && !entry.is_symlink()) bundleFiles_.push_back(entry.path().string());
    }
}

// The self-updater's check of a downloaded bundle against hashing the same files with sha256sum,
// both from a warm page cache.
void Bench::verifyRound() {
    std::vector<std::string> hashAll{"sha256sum"};
    hashAll.insert(hashAll.end(), bundleFiles_.begin(), bundleFiles_.end());
    runQuietly(hashAll);
    const auto started = Clock::now();
    if (runQuietly(hashAll) != 0) return figures_.note("sha256sum failed");
    figures_.add("verify.sha256sum", bundleMegabytes_ * 1000 / millisecondsSince(started));
    const auto verifying = Clock::now();
    if (runQuietly({options_.codesign.string(), "--verify", "--deep", "--strict", bundle_.string()}) != 0) {
        return figures_.note("tolvar-codesign --verify rejected the benchmark bundle");
    }
    figures_.add("verify.codesign", bundleMegabytes_ * 1000 / millisecondsSince(verifying));
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

nlohmann::json Bench::report(std::ostream& table) const {
    return figures_.report(table, {{"bench", "tolvar-user"},
                                   {"quick", options_.quick},
                                   {"rounds", options_.rounds},
                                   {"idleSeconds", options_.idleSeconds},
                                   {"idleRounds", std::min(options_.idleRounds, options_.rounds)},
                                   {"bundleMB", std::round(bundleMegabytes_ * 10) / 10},
                                   {"cpus", std::thread::hardware_concurrency()}});
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(argument + " needs a value");
            return argv[++i];
        };
        if (argument == "--quick") {
            options.quick = true;
            options.rounds = 1;
            options.idleSeconds = 2;
            options.settleSeconds = 0;
            options.memoryDelaySeconds = 1;
            options.bundleMegabytes = 10;
            options.traySleepSeconds = 3;
        } else if (argument == "--rounds") options.rounds = std::stoi(next());
        else if (argument == "--idle-seconds") options.idleSeconds = std::stoi(next());
        else if (argument == "--idle-rounds") options.idleRounds = std::stoi(next());
        else if (argument == "--bundle-mb") options.bundleMegabytes = std::stol(next());
        else if (argument == "--tray-sleep-seconds") options.traySleepSeconds = std::stoi(next());
        else if (argument == "--chromium") options.chromium = next();
        else if (argument == "--verbose") options.verbose = true;
        else if (argument == "--only") {
            std::istringstream stages(next());
            for (std::string stage; std::getline(stages, stage, ',');) options.only.insert(stage);
        }
        else throw std::invalid_argument("unknown option " + argument);
    }
    return options;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
    try {
        const auto options = bench::parse(argc, argv);
        // Helpers that leave their parent (a browser's crash handler, xclip's server) come back to
        // this process, so each session can end all of them.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        const std::string loadBefore = bench::loadAverage();
        bench::Bench bench(options);
        bench.run();
        auto json = bench.report(std::cout);
        json["loadAverage"] = {{"before", loadBefore}, {"after", bench::loadAverage()}};
        std::cout << json.dump() << std::endl;
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "tolvar-user-bench: " << error.what() << "\n"
                  << "usage: tolvar-user-bench [--quick] [--rounds N] [--idle-seconds S] [--idle-rounds N] "
                     "[--bundle-mb M] [--tray-sleep-seconds S] [--chromium PATH] [--verbose]\n"
                     "                         [--only webkit,chromium,tolvar,panel,cold,tray,verify]\n";
        return 2;
    }
}
