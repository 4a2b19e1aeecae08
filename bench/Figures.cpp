#include "bench/Figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace bench {
namespace {

nlohmann::json valueOrNull(const std::optional<double>& value) {
    if (!value) return nullptr;
    return std::round(*value * 10) / 10;
}

std::optional<double> ratio(const std::optional<double>& a, const std::optional<double>& b) {
    if (!a || !b || *b == 0) return std::nullopt;
    return *a / *b;
}

std::optional<double> difference(const std::optional<double>& a, const std::optional<double>& b) {
    if (!a || !b) return std::nullopt;
    return *a - *b;
}

std::string shown(const std::optional<double>& value, const char* unit) {
    if (!value) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", *value, unit);
    return text;
}

struct Target {
    std::string name;
    std::optional<double> value;  // the figure held to the target (a ratio or an absolute value)
    double limit;
    bool atMost;  // false: the figure must reach the limit
    std::string text;
};

}  // namespace

std::optional<double> Figures::median(const std::string& name) const {
    const auto found = samples_.find(name);
    if (found == samples_.end() || found->second.empty()) return std::nullopt;
    auto values = found->second;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

nlohmann::json Figures::report(std::ostream& table, const nlohmann::json& context) const {
    auto m = [this](const char* name) { return median(name); };
    const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> rows{
        {"start: spawn -> page loaded",
         {{"tolvar", shown(m("start.tolvar"), "ms")}, {"webkit host", shown(m("start.webkit"), "ms")},
          {"chromium", shown(m("start.chromium"), "ms")}}},
        {"memory: PSS 3 s after load",
         {{"tolvar", shown(m("memory.tolvar"), "MB")}, {"webkit host", shown(m("memory.webkit"), "MB")},
          {"chromium", shown(m("memory.chromium"), "MB")}}},
        {"memory: its pages alone, same time",
         {{"tolvar", shown(m("memoryAlone.tolvar"), "MB")}, {"webkit host", shown(m("memoryAlone.webkit"), "MB")},
          {"chromium", shown(m("memoryAlone.chromium"), "MB")}}},
        {"memory: idle, window hidden",
         {{"tolvar", shown(m("memoryHidden.tolvar"), "MB")}, {"webkit host", shown(m("memoryHidden.webkit"), "MB")}}},
        {"hot key -> panel viewable",
         {{"first", shown(m("hotKeyFirst"), "ms")}, {"again", shown(m("hotKey"), "ms")}}},
        {"--quick-save -> panel viewable",
         {{"running", shown(m("quickSaveRunning"), "ms")}, {"cold", shown(m("quickSaveCold"), "ms")}}},
        {"save: Return -> save-result", {{"tolvar", shown(m("save"), "ms")}}},
        {"update check of the bundle",
         {{"tolvar-codesign", shown(m("verify.codesign"), "MB/s")}, {"sha256sum", shown(m("verify.sha256sum"), "MB/s")}}},
        {"idle: CPU time, window hidden",
         {{"tolvar", shown(m("idleCpu.tolvar"), "ms")}, {"webkit host", shown(m("idleCpu.webkit"), "ms")}}},
        {"idle: wake-ups (threads started)",
         {{"tolvar", shown(m("idleWakeUps.tolvar"), "") + " (" + shown(m("idleThreadsStarted.tolvar"), "") + ")"},
          {"webkit host", shown(m("idleWakeUps.webkit"), "") + " (" + shown(m("idleThreadsStarted.webkit"), "") + ")"}}},
        {"tray: PSS of the tree",
         {{"--background 10 s", shown(m("memory.tray.background"), "MB")},
          {"after panel", shown(m("memory.tray.afterPanel"), "MB")},
          {"asleep", shown(m("memory.tray.asleep"), "MB")},
          {"window shown", shown(m("memory.tolvar"), "MB")},
          {"gtk tray", shown(m("memory.tray.gtk"), "MB")}}},
        {"tray: the same, pages alone",
         {{"--background 10 s", shown(m("memory.tray.background.alone"), "MB")},
          {"after panel", shown(m("memory.tray.afterPanel.alone"), "MB")},
          {"asleep", shown(m("memory.tray.asleep.alone"), "MB")},
          {"window shown", shown(m("memoryAlone.tolvar"), "MB")},
          {"gtk tray", shown(m("memory.tray.gtk.alone"), "MB")}}},
        {"tray: hot key -> title-filled",
         {{"at start", shown(m("tray.titleFromStart"), "ms")}, {"from sleep", shown(m("tray.titleFromSleep"), "ms")}}},
        {"tray: Return -> save-result", {{"from sleep", shown(m("tray.saveFromSleep"), "ms")}}},
        {"tray: hot key -> panel viewable", {{"from sleep", shown(m("tray.hotKeyFromSleep"), "ms")}, {"awake", shown(m("tray.hotKeyAwake"), "ms")}}},
    };
    for (const auto& [title, cells] : rows) {
        char head[48];
        std::snprintf(head, sizeof head, "%-34s", title.c_str());
        table << head;
        for (const auto& [label, value] : cells) table << "  " << label << " " << value;
        table << "\n";
    }

    const std::vector<Target> targets{
        {"start", ratio(m("start.tolvar"), m("start.webkit")), 1.05, true, "start <= 1.05x webkit host"},
        {"memory", ratio(m("memory.tolvar"), m("memory.webkit")), 1.05, true, "memory <= 1.05x webkit host"},
        {"memoryAlone", ratio(m("memoryAlone.tolvar"), m("memoryAlone.webkit")), 1.05, true,
         "  the same, pages alone"},
        {"hotKey", m("hotKeyFirst") ? std::optional(std::max(*m("hotKeyFirst"), m("hotKey").value_or(0))) : std::nullopt,
         16, true, "hot key <= 16 ms"},
        {"quickSaveRunning", m("quickSaveRunning"), 50, true, "--quick-save running <= 50 ms"},
        {"trayAsleep", m("memory.tray.asleep"), 120, true, "tray asleep <= 120 MB"},
        {"trayVsGtk", ratio(m("memory.tray.asleep"), m("memory.tray.gtk")), 2.3, true, "tray asleep <= 2.3x gtk tray"},
        {"trayVsGtkAlone", ratio(m("memory.tray.asleep.alone"), m("memory.tray.gtk.alone")), 2.3, true,
         "  the same, pages alone"},
        {"titleFromSleep", m("tray.titleFromSleep"), 1500, true, "present -> title from sleep <= 1.5 s"},
        {"saveFromSleep", m("tray.saveFromSleep"), 1500, true, "Return -> saved from sleep <= 1.5 s"},
        {"quickSaveCold", ratio(m("quickSaveCold"), m("start.tolvar")), 1.1, true, "--quick-save cold <= 1.1x start"},
        {"verify", ratio(m("verify.codesign"), m("verify.sha256sum")), 0.8, false, "verify >= 0.8x sha256sum"},
        // WebKit's own timers (its memory-pressure monitor polls every few seconds) are the floor.
        {"idle", difference(m("idleWakeUps.tolvar"), m("idleWakeUps.webkit")),
         std::max(1.0, 0.1 * m("idleWakeUps.webkit").value_or(0)), true, "idle wake-ups beyond webkit host's"},
    };
    nlohmann::json values = nlohmann::json::object(), met = nlohmann::json::object();
    table << "targets:\n";
    for (const auto& target : targets) {
        values[target.name] = target.value ? nlohmann::json(std::round(*target.value * 1000) / 1000) : nullptr;
        const bool ok = target.value && (target.atMost ? *target.value <= target.limit : *target.value >= target.limit);
        met[target.name] = target.value ? nlohmann::json(ok) : nullptr;
        char line[160];
        std::snprintf(line, sizeof line, "  %-38s %8s  (limit %.3g)  %s\n", target.text.c_str(),
                      target.value ? std::to_string(std::round(*target.value * 1000) / 1000).substr(0, 6).c_str()
                                   : "-",
                      target.limit, !target.value ? "not measured" : ok ? "met" : "MISSED");
        table << line;
    }
    for (const auto& text : notes_) table << "note: " << text << "\n";

    nlohmann::json figures = nlohmann::json::object();
    for (const auto& [name, values] : samples_) figures[name] = valueOrNull(median(name));
    for (const char* expected : {"start.tolvar", "start.webkit", "start.chromium", "memory.tolvar", "memory.webkit",
                                 "memory.chromium", "memoryAlone.tolvar", "memoryAlone.webkit", "memoryAlone.chromium",
                                 "memoryHidden.tolvar", "memoryHidden.webkit", "hotKeyFirst",
                                 "hotKey", "quickSaveRunning", "quickSaveCold", "save", "verify.codesign",
                                 "verify.sha256sum", "idleCpu.tolvar", "idleCpu.webkit", "idleWakeUps.tolvar",
                                 "idleWakeUps.webkit", "idleThreadsStarted.tolvar", "idleThreadsStarted.webkit",
                                 "memory.tray.background", "memory.tray.afterPanel", "memory.tray.asleep",
                                 "memory.tray.gtk", "tray.titleFromSleep", "tray.saveFromSleep"}) {
        if (!figures.contains(expected)) figures[expected] = nullptr;
    }
    auto json = context;
    json["medians"] = figures;
    json["targetValues"] = values;
    json["targetsMet"] = met;
    json["notes"] = notes_;
    return json;
}

}  // namespace bench
