#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Child processes and the application's own lifetime.
namespace platform {

struct ProcessResult {
    int status = -1;     // the exit status, the signal number when a signal ended it, -1 when it never started
    std::string output;  // standard output and standard error together, or the reason it did not start
};

// Runs `program` with `arguments` (no shell, no quoting) to completion, with standard error merged
// into standard output, inheriting this process's environment and working folder. Blocks the calling
// thread; safe on any thread.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments);

struct PipelineResult {
    int firstStatus = -1;   // as ProcessResult::status
    int secondStatus = -1;
    bool exceeded = false;  // more than the allowed bytes came through, and both were killed
};

// Runs `first` with its standard output fed into the standard input of `second`, as a shell's "|"
// does, but passes on at most `largestStream` bytes: one byte more and both are killed at once. Their
// standard error and the second's standard output are discarded. Blocks the calling thread; safe on
// any thread.
PipelineResult runPipeline(const std::string& first, const std::vector<std::string>& firstArguments,
                           const std::string& second, const std::vector<std::string>& secondArguments,
                           std::uint64_t largestStream);

// Starts `program` with `arguments` and a copy of this process's environment, without waiting for it.
// Answers whether it started.
bool startDetached(const std::string& program, const std::vector<std::string>& arguments);

// Asks the running application to quit, as its Quit item does.
void quitApplication();

// This process's id.
int processId();

}  // namespace platform
