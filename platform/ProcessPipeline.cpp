// Two child processes joined by a pipe whose traffic this process counts and caps, so a small input
// that expands without bound (an archive bomb) is stopped after a fixed number of bytes.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "core/Io.h"
#include "platform/Process.h"

extern char** environ;

namespace platform {
namespace {

// Starts `program` with standard input from `in`, standard output to `out` (-1: /dev/null) and
// standard error to /dev/null. Every descriptor of this process is close-on-exec, so the child
// holds only these three. Answers the process id, or -1.
pid_t spawn(const std::string& program, const std::vector<std::string>& arguments, int in, int out) {
    std::vector<std::string> texts{program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The children start with default signal handling, whatever this process ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int waitFor(pid_t pid) {
    if (pid < 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return WTERMSIG(status);
    return -1;
}

}  // namespace

PipelineResult runPipeline(const std::string& first, const std::vector<std::string>& firstArguments,
                           const std::string& second, const std::vector<std::string>& secondArguments,
                           std::uint64_t largestStream) {
    PipelineResult result;
    // The first child writes into a pipe; the second reads from a socket, so that writing to it after
    // it has gone answers EPIPE here instead of a SIGPIPE that would end this process.
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return result;
    core::UniqueFd fromFirst(pipeEnds[0]), intoFirstPipe(pipeEnds[1]);
    int socketEnds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socketEnds) != 0) return result;
    core::UniqueFd toSecond(socketEnds[0]), secondInput(socketEnds[1]);

    const pid_t firstPid = spawn(first, firstArguments, -1, intoFirstPipe.get());
    intoFirstPipe.reset();
    const pid_t secondPid = firstPid < 0 ? -1 : spawn(second, secondArguments, secondInput.get(), -1);
    secondInput.reset();
    if (firstPid < 0 || secondPid < 0) {
        if (firstPid >= 0) ::kill(firstPid, SIGKILL);
        result.firstStatus = waitFor(firstPid);
        return result;
    }
    ::shutdown(toSecond.get(), SHUT_RD);

    std::uint64_t passed = 0;
    char buffer[65536];
    while (true) {
        const auto got = core::readAll(fromFirst.get(), buffer, sizeof buffer);
        if (!got || *got == 0) break;
        passed += *got;
        if (passed > largestStream) {
            result.exceeded = true;
            ::kill(firstPid, SIGKILL);
            ::kill(secondPid, SIGKILL);
            break;
        }
        if (!core::sendAll(toSecond.get(), std::string_view(buffer, *got))) break;  // the second child stopped reading
    }
    // End of input for the second child; the first one sees a closed pipe if it is still writing.
    toSecond.reset();
    fromFirst.reset();
    result.firstStatus = waitFor(firstPid);
    result.secondStatus = waitFor(secondPid);
    return result;
}

}  // namespace platform
