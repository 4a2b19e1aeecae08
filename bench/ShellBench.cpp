#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "app/MainWindowCommands.h"
#include "app/NavigationPolicy.h"
#include "automation/E2E.h"

namespace {

// Every navigation of the main web view goes through this decision.
void navigationDecision(benchmark::State& state) {
    const platform::NavigationAction action{"https://docs.tolvar.app/guide?page=2",
                                            platform::NavigationType::linkActivated, false};
    for (auto _ : state) benchmark::DoNotOptimize(NavigationPolicy::decideNavigation(action));
}
BENCHMARK(navigationDecision);

void clipboardAddress(benchmark::State& state) {
    const std::optional<std::string> clipboard = "  https://example.com/article?id=42&ref=feed \n";
    for (auto _ : state) benchmark::DoNotOptimize(MainWindowCommands::clipboardBookmarkURL(clipboard, ServiceAddress::defaultAddress()));
}
BENCHMARK(clipboardAddress);

// One journal event: format the line, open the file, append, close. The driver reads the file
// while the application runs, so this is paid on the main thread for every event.
void journalAppend(benchmark::State& state) {
    const auto folder = std::filesystem::temp_directory_path() / ("tolvar-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto journal = folder / "events.jsonl";
    int64_t seq = 0;
    for (auto _ : state) {
        auto line = E2E::detail::journalLine({{"url", "https://web.tolvar.app/app"}, {"ok", true}}, "web-loaded",
                                             ++seq, std::nullopt);
        E2E::detail::appendToJournal(journal, *line);
    }
    state.counters["bytes"] = double(std::filesystem::file_size(journal));
    std::filesystem::remove_all(folder);
}
BENCHMARK(journalAppend);

}  // namespace
