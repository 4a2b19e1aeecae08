// The built tolvar-capture-host, driven as a browser drives it: length-prefixed JSON on its
// standard input, answers on its standard output, reports in the runtime folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "capture/CaptureRules.h"
#include "capture/NativeMessaging.h"
#include "tests/support/AppProcess.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string frame(const std::string& body, std::uint32_t announced) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &announced, 4);
    return bytes + body;
}
std::string frame(const std::string& body) { return frame(body, static_cast<std::uint32_t>(body.size())); }

std::string message(const std::string& address, const std::string& title, double focused = 1700000000000.0) {
    return json{{"browser", "chromium"}, {"address", address}, {"title", title}, {"focused", focused}}.dump();
}

// The host as a child process with its standard input and output on pipes.
class Host {
public:
    explicit Host(std::optional<fs::path> runtime) {
        int in[2];
        int out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            if (runtime) setenv("XDG_RUNTIME_DIR", runtime->c_str(), 1);
            else unsetenv("XDG_RUNTIME_DIR");
            execl(TOLVAR_CAPTURE_HOST, TOLVAR_CAPTURE_HOST, "chrome-extension://dahoghcobakddfbcgfklaanklikmjkgp/",
                  nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        output_ = out[0];
    }
    ~Host() {
        closeInput();
        if (output_ >= 0) close(output_);
        if (!status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Writes raw bytes (from a thread, so a large body cannot block against unread answers).
    void write(const std::string& bytes) {
        std::thread writer([this, &bytes] {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t put = ::write(input_, bytes.data() + done, bytes.size() - done);
                if (put <= 0) break;
                done += static_cast<std::size_t>(put);
            }
        });
        writer.join();
    }

    // The next answer, waiting up to five seconds; nothing when none comes.
    std::optional<json> answer() {
        pollfd entry{output_, POLLIN, 0};
        if (poll(&entry, 1, 5000) <= 0) return std::nullopt;
        const auto f = capture::readFrame(output_, capture::longestMessage);
        if (f.kind != capture::Frame::Kind::message) return std::nullopt;
        return json::parse(f.body, nullptr, false);
    }

    json send(const std::string& bytes) {
        write(bytes);
        auto reply = answer();
        EXPECT_TRUE(reply.has_value()) << "no answer";
        return reply.value_or(json());
    }

    void closeInput() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }

    // The exit status after the input closed; fails the test if the host was killed by a signal.
    int wait() {
        closeInput();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the host did not end";
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        status_ = status;
        EXPECT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::optional<int> status_;
};

class CaptureHostTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder temporary;
    fs::path runtime = temporary.path() / "runtime";
    fs::path folder = runtime / "tolvar-capture";
    fs::path stateFile = folder / "chromium.json";

    void SetUp() override {
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    }

    json state() const { return json::parse(testsupport::readFile(stateFile), nullptr, false); }
};

TEST_F(CaptureHostTest, AGoodReportIsKeptForTheUserAlone) {
    Host host(runtime);
    EXPECT_EQ(host.send(frame(message("https://example.org/a", "Page A"))), json({{"accepted", true}}));
    const auto stored = state();
    EXPECT_EQ(stored["browser"], "chromium");
    EXPECT_EQ(stored["address"], "https://example.org/a");
    EXPECT_EQ(stored["title"], "Page A");
    EXPECT_EQ(stored["focused"], 1700000000000.0);
    EXPECT_EQ(stored["pid"], getpid());  // the process that started the host
    struct stat info {};
    ASSERT_EQ(stat(stateFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, geteuid());
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // The latest report replaces the one before, and nothing else is left in the folder.
    EXPECT_EQ(host.send(frame(message("https://example.org/b", "Page B"))), json({{"accepted", true}}));
    EXPECT_EQ(state()["address"], "https://example.org/b");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_EQ(host.wait(), 0);
}

TEST_F(CaptureHostTest, BadMessagesLeaveTheLastGoodReport) {
    Host host(runtime);
    ASSERT_EQ(host.send(frame(message("https://example.org/good", "Good"))), json({{"accepted", true}}));
    const std::string good = testsupport::readFile(stateFile);

    const struct {
        const char* name;
        std::string bytes;
    } attacks[] = {  // each reason a message is refused is tested with the rules; here, a few
        {"invalid JSON", frame("{\"browser\":\"chromium\",")},
        {"unknown browser", frame(R"({"browser":"../../x","address":"https://evil.example/","title":"t","focused":1})")},
        {"empty message", frame("")},
        {"deeply nested", frame(std::string(300'000, '[') + std::string(300'000, ']'))},
        {"length over 1 MB", frame(std::string(capture::longestMessage + 1, ' ') + message("https://evil.example/", "t"),
                                   static_cast<std::uint32_t>(capture::longestMessage + 1 + message("https://evil.example/", "t").size()))},
    };
    for (const auto& attack : attacks) {
        SCOPED_TRACE(attack.name);
        const auto reply = host.send(attack.bytes);
        EXPECT_EQ(reply["accepted"], false);
        EXPECT_TRUE(reply["reason"].is_string() && !reply["reason"].get<std::string>().empty());
        EXPECT_EQ(testsupport::readFile(stateFile), good);
    }

    // After all of that the stream is still in step: the next good report is taken.
    EXPECT_EQ(host.send(frame(message("https://example.org/next", "Next"))), json({{"accepted", true}}));
    EXPECT_EQ(state()["address"], "https://example.org/next");
    EXPECT_EQ(host.wait(), 0);
}

TEST_F(CaptureHostTest, AHugeLengthPrefixOrACutStreamEndsCleanlyWithTheReportIntact) {
    for (const std::string& ending : {frame("{\"browser\":\"chromium\"", 0xfffffff0u), std::string("\x20\x00", 2)}) {
        Host host(runtime);
        ASSERT_EQ(host.send(frame(message("https://example.org/good", "Good"))), json({{"accepted", true}}));
        const std::string good = testsupport::readFile(stateFile);
        host.write(ending);
        EXPECT_EQ(host.wait(), 0);
        EXPECT_EQ(testsupport::readFile(stateFile), good);
    }
}

TEST_F(CaptureHostTest, AFolderOpenToOthersIsNotUsed) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    Host host(runtime);
    EXPECT_EQ(host.send(frame(message("https://example.org/a", "A")))["accepted"], false);
    EXPECT_FALSE(fs::exists(stateFile));
    EXPECT_EQ(host.wait(), 0);
}

TEST_F(CaptureHostTest, AFolderThatIsALinkIsNotFollowed) {
    const fs::path elsewhere = temporary.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::permissions(elsewhere, fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directory_symlink(elsewhere, folder);
    Host host(runtime);
    EXPECT_EQ(host.send(frame(message("https://example.org/a", "A")))["accepted"], false);
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(host.wait(), 0);
}

TEST_F(CaptureHostTest, AStateFileThatIsALinkIsReplacedNotWrittenThrough) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path victim = temporary.path() / "victim";
    { std::ofstream(victim) << "keep me"; }
    fs::create_symlink(victim, stateFile);
    Host host(runtime);
    EXPECT_EQ(host.send(frame(message("https://example.org/a", "A")))["accepted"], true);
    EXPECT_EQ(testsupport::readFile(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(stateFile));
    EXPECT_EQ(state()["address"], "https://example.org/a");
    EXPECT_EQ(host.wait(), 0);
}

TEST_F(CaptureHostTest, WithoutARuntimeFolderNothingIsStored) {
    Host host(std::nullopt);
    const auto reply = host.send(frame(message("https://example.org/a", "A")));
    EXPECT_EQ(reply["accepted"], false);
    EXPECT_EQ(host.wait(), 0);
}

}  // namespace
