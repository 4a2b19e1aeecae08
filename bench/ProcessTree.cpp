#include "bench/ProcessTree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_set>

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

long distinctResidentKiB(const std::vector<pid_t>& processes) {
    constexpr std::uint64_t present = 1ULL << 63, frameBits = (1ULL << 55) - 1;
    const long pageSize = sysconf(_SC_PAGESIZE);
    std::unordered_set<std::uint64_t> frames;
    std::vector<std::uint64_t> entries;
    for (pid_t pid : processes) {
        const std::string process = "/proc/" + std::to_string(pid);
        const int pagemap = open((process + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
        if (pagemap < 0) continue;
        std::istringstream smaps(slurp(process + "/smaps"));
        std::uint64_t start = 0, end = 0;
        for (std::string line; std::getline(smaps, line);) {
            if (line.starts_with("Rss:")) {
                if (std::stol(line.substr(4)) == 0) continue;
                entries.resize((end - start) / pageSize);
                const auto bytes = pread(pagemap, entries.data(), entries.size() * 8, off_t(start / pageSize * 8));
                for (long i = 0; i < bytes / 8; ++i) {
                    if ((entries[i] & present) && (entries[i] & frameBits)) frames.insert(entries[i] & frameBits);
                }
            } else if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
                       line.find('-') < line.find(' ')) {
                start = std::stoull(line.substr(0, line.find('-')), nullptr, 16);
                end = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
            }
        }
        close(pagemap);
    }
    return long(frames.size()) * (pageSize / 1024);
}

std::vector<std::pair<std::string, long>> pssByMapping(pid_t pid) {
    std::map<std::string, long> sums;
    std::istringstream smaps(slurp("/proc/" + std::to_string(pid) + "/smaps"));
    std::string current = "[anon]";
    for (std::string line; std::getline(smaps, line);) {
        if (line.starts_with("Pss:")) {
            sums[current] += std::stol(line.substr(4));
        } else if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
                   line.find('-') < line.find(' ')) {
            // "start-end perms offset device inode   path": the path is the sixth field, if any
            std::istringstream header(line);
            std::string field, path;
            for (int i = 0; i < 5; ++i) header >> field;
            std::getline(header >> std::ws, path);
            current = path.empty() ? "[anon]" : path;
        }
    }
    std::vector<std::pair<std::string, long>> sorted(sums.begin(), sums.end());
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return sorted;
}

std::string processName(pid_t pid) {
    std::string name = slurp("/proc/" + std::to_string(pid) + "/comm");
    if (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

ActivityWatch::ActivityWatch(pid_t root) : root_(root) { sample(); }

void ActivityWatch::sample() {
    for (pid_t pid : processTree(root_)) {
        const fs::path process = "/proc/" + std::to_string(pid);
        const auto fields = statFields(process / "stat");
        if (fields.size() <= 12) continue;
        const long ticks = std::stol(fields[11]) + std::stol(fields[12]);  // dead threads included
        if (!firstTicks_.count(pid)) firstTicks_[pid] = started_ ? 0 : ticks;
        lastTicks_[pid] = ticks;
        std::error_code error;
        for (const auto& task : fs::directory_iterator(process / "task", error)) {
            const std::string status = "\n" + slurp(task.path() / "status");
            const long switches = fieldValue(status, "voluntary_ctxt_switches") +
                                  fieldValue(status, "nonvoluntary_ctxt_switches");
            const pid_t tid = std::stol(task.path().filename());
            auto [thread, isNew] = threads_.try_emplace(tid);
            if (isNew) {
                std::string name = slurp(task.path() / "comm");
                if (!name.empty() && name.back() == '\n') name.pop_back();
                thread->second = {processName(pid) + "/" + name, started_ ? 0 : switches, switches};
                threadsStarted_ += started_;
            }
            thread->second.last = switches;
        }
    }
    started_ = true;
}

long ActivityWatch::cpuTicks() const {
    long total = 0;
    for (const auto& [pid, ticks] : lastTicks_) total += ticks - firstTicks_.at(pid);
    return total;
}

long ActivityWatch::wakeUps() const {
    long total = 0;
    for (const auto& [tid, thread] : threads_) total += thread.last - thread.first;
    return total;
}

int ActivityWatch::threadsStarted() const { return threadsStarted_; }

std::map<std::string, long> ActivityWatch::wakeUpsByThread() const {
    std::map<std::string, long> byName;
    for (const auto& [tid, thread] : threads_) {
        if (thread.last != thread.first) byName[thread.name] += thread.last - thread.first;
    }
    return byName;
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
