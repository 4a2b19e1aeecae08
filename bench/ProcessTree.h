#pragma once

#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// What a program holds and does, read from /proc over the program and every process below it
// (the web engine's helpers, a browser's zygotes and renderers, a sandbox's bwrap in between).
namespace bench {

// The process and all its descendants, walked through the parent links of /proc.
std::vector<pid_t> processTree(pid_t root);

// Sum of Pss (proportional set size) over the processes, in KiB.
long totalPssKiB(const std::vector<pid_t>& processes);

// The memory the processes would hold if nothing else on the machine shared their pages: every
// resident physical page they map, counted once, in KiB. PSS instead divides a shared library's
// pages among every process that maps it, other programs' included. Needs root (page frame numbers).
long distinctResidentKiB(const std::vector<pid_t>& processes);

// Pss of one process by what is mapped (a file's path, "[heap]", "[anon]"...), largest first, in KiB.
std::vector<std::pair<std::string, long>> pssByMapping(pid_t pid);

// Watches the CPU time and context switches (each one a wake-up of a thread) of a process tree.
// Threads come and go (thread pools), so every thread is followed by its id from sample to sample;
// call sample() often enough to catch short-lived ones.
class ActivityWatch {
public:
    explicit ActivityWatch(pid_t root);
    void sample();

    long cpuTicks() const;  // user and system time since the first sample, in clock ticks
    long wakeUps() const;
    int threadsStarted() const;
    std::map<std::string, long> wakeUpsByThread() const;  // by "process/thread" name

private:
    struct Thread {
        std::string name;
        long first = 0;
        long last = 0;
    };
    pid_t root_;
    std::map<pid_t, long> firstTicks_, lastTicks_;
    std::map<pid_t, Thread> threads_;
    int threadsStarted_ = 0;
    bool started_ = false;
};

// The name of a process ("comm").
std::string processName(pid_t pid);

// SIGKILLs every descendant of this process except those in `keep` (and their own descendants),
// then reaps what it can. Needs this process to be a child subreaper to see orphans.
void killDescendants(const std::set<pid_t>& keep = {});

}  // namespace bench
