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

struct Activity {
    long cpuTicks = 0;      // user and system time, in clock ticks
    long wakeUps = 0;       // context switches of every thread
    std::map<std::string, long> wakeUpsByThread;  // "process/thread" names
};
Activity activityOf(const std::vector<pid_t>& processes);
// What happened between two readings; processes that appeared in between count whole.
Activity activityBetween(const Activity& before, const Activity& after);

// The name of a process ("comm").
std::string processName(pid_t pid);

// SIGKILLs every descendant of this process except those in `keep` (and their own descendants),
// then reaps what it can. Needs this process to be a child subreaper to see orphans.
void killDescendants(const std::set<pid_t>& keep = {});

}  // namespace bench
