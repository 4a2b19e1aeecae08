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
        {"memory: tolvar, window hidden", {{"after idle", shown(m("memory.tolvarHidden"), "MB")}}},
        {"hot key -> panel viewable",
         {{"first", shown(m("hotKeyFirst"), "ms")}, {"again", shown(m("hotKey"), "ms")}}},
        {"--quick-save -> panel viewable",
         {{"running", shown(m("quickSaveRunning"), "ms")}, {"cold", shown(m("quickSaveCold"), "ms")}}},
        {"save: Return -> save-result", {{"tolvar", shown(m("save"), "ms")}}},
        {"update check of the bundle",
         {{"tolvar-codesign", shown(m("verify.codesign"), "MB/s")}, {"sha256sum", shown(m("verify.sha256sum"), "MB/s")}}},
        {"idle, window hidden",
         {{"cpu", shown(m("idle.cpu"), "ms")}, {"wake-ups", shown(m("idle.wakeUps"), "")}}},
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
        {"hotKey", m("hotKeyFirst") ? std::optional(std::max(*m("hotKeyFirst"), m("hotKey").value_or(0))) : std::nullopt,
         16, true, "hot key <= 16 ms"},
        {"quickSaveRunning", m("quickSaveRunning"), 50, true, "--quick-save running <= 50 ms"},
        {"quickSaveCold", ratio(m("quickSaveCold"), m("start.tolvar")), 1.1, true, "--quick-save cold <= 1.1x start"},
        {"verify", ratio(m("verify.codesign"), m("verify.sha256sum")), 0.8, false, "verify >= 0.8x sha256sum"},
        {"idle", m("idle.wakeUps"), 0, true, "no idle wake-ups"},
    };
    nlohmann::json ratios = nlohmann::json::object(), met = nlohmann::json::object();
    table << "targets:\n";
    for (const auto& target : targets) {
        ratios[target.name] = target.value ? nlohmann::json(std::round(*target.value * 1000) / 1000) : nullptr;
        const bool ok = target.value && (target.atMost ? *target.value <= target.limit : *target.value >= target.limit);
        met[target.name] = target.value ? nlohmann::json(ok) : nullptr;
        char line[128];
        std::snprintf(line, sizeof line, "  %-34s %8s  %s\n", target.text.c_str(),
                      target.value ? std::to_string(std::round(*target.value * 1000) / 1000).substr(0, 6).c_str()
                                   : "-",
                      !target.value ? "not measured" : ok ? "met" : "MISSED");
        table << line;
    }
    for (const auto& text : notes_) table << "note: " << text << "\n";

    nlohmann::json figures = nlohmann::json::object();
    for (const auto& [name, values] : samples_) figures[name] = valueOrNull(median(name));
    for (const char* expected : {"start.tolvar", "start.webkit", "start.chromium", "memory.tolvar", "memory.webkit",
                                 "memory.chromium", "memory.tolvarHidden", "hotKeyFirst", "hotKey",
                                 "quickSaveRunning", "quickSaveCold", "save", "verify.codesign", "verify.sha256sum",
                                 "idle.cpu", "idle.wakeUps"}) {
        if (!figures.contains(expected)) figures[expected] = nullptr;
    }
    auto json = context;
    json["medians"] = figures;
    json["ratios"] = ratios;
    json["targetsMet"] = met;
    json["notes"] = notes_;
    return json;
}

}  // namespace bench
