#include "bench/ProcessTree.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace bench {
namespace fs = std::filesystem;
namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The fields of /proc/<pid>/stat after the command name, which may itself hold spaces and ')'.
std::vector<std::string> statFields(const fs::path& statFile) {
    const std::string text = slurp(statFile);
    const auto close = text.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream rest(text.substr(close + 1));
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;  // fields[0] is the state, fields[1] the parent, fields[11] utime, fields[12] stime
}

std::multimap<pid_t, pid_t> childrenByParent() {
    std::multimap<pid_t, pid_t> children;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto fields = statFields(entry.path() / "stat");
        if (fields.size() > 1) children.emplace(std::stol(fields[1]), std::stol(name));
    }
    return children;
}

std::vector<pid_t> below(pid_t root, const std::multimap<pid_t, pid_t>& children, const std::set<pid_t>& skip) {
    std::vector<pid_t> found;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        const pid_t parent = pending.back();
        pending.pop_back();
        auto [first, last] = children.equal_range(parent);
        for (auto it = first; it != last; ++it) {
            if (skip.count(it->second)) continue;
            found.push_back(it->second);
            pending.push_back(it->second);
        }
    }
    return found;
}

long fieldValue(const std::string& text, const std::string& key) {
    const auto at = text.find("\n" + key + ":");
    if (at == std::string::npos) return 0;
    return std::stol(text.substr(at + key.size() + 2));
}

}  // namespace

std::vector<pid_t> processTree(pid_t root) {
    auto tree = below(root, childrenByParent(), {});
    tree.insert(tree.begin(), root);
    return tree;
}

long totalPssKiB(const std::vector<pid_t>& processes) {
    long total = 0;
    for (pid_t pid : processes) {
        total += fieldValue("\n" + slurp("/proc/" + std::to_string(pid) + "/smaps_rollup"), "Pss");
    }
    return total;
}

std::string processName(pid_t pid) {
    std::string name = slurp("/proc/" + std::to_string(pid) + "/comm");
    if (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

Activity activityOf(const std::vector<pid_t>& processes) {
    Activity activity;
    for (pid_t pid : processes) {
        const fs::path process = "/proc/" + std::to_string(pid);
        const auto fields = statFields(process / "stat");
        if (fields.size() > 12) activity.cpuTicks += std::stol(fields[11]) + std::stol(fields[12]);
        std::error_code error;
        for (const auto& task : fs::directory_iterator(process / "task", error)) {
            const std::string status = "\n" + slurp(task.path() / "status");
            const long switches = fieldValue(status, "voluntary_ctxt_switches") +
                                  fieldValue(status, "nonvoluntary_ctxt_switches");
            activity.wakeUps += switches;
            std::string thread = slurp(task.path() / "comm");
            if (!thread.empty() && thread.back() == '\n') thread.pop_back();
            activity.wakeUpsByThread[processName(pid) + "/" + thread] += switches;
        }
    }
    return activity;
}

Activity activityBetween(const Activity& before, const Activity& after) {
    Activity delta{.cpuTicks = after.cpuTicks - before.cpuTicks, .wakeUps = after.wakeUps - before.wakeUps};
    for (const auto& [thread, count] : after.wakeUpsByThread) {
        const auto earlier = before.wakeUpsByThread.find(thread);
        const long change = count - (earlier == before.wakeUpsByThread.end() ? 0 : earlier->second);
        if (change != 0) delta.wakeUpsByThread[thread] = change;
    }
    return delta;
}

void killDescendants(const std::set<pid_t>& keep) {
    for (int pass = 0; pass < 50; ++pass) {
        const auto victims = below(getpid(), childrenByParent(), keep);
        if (victims.empty()) return;
        for (pid_t pid : victims) kill(pid, SIGKILL);
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace bench
