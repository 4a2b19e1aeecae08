// tolvar-codesign and tolvar-assess run as child processes on a small bundle made here: their exit
// status and what they print, for each way a bundle can be tampered with and each rejection.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "tests/support/AppProcess.h"
#include "ElfEdit.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TemporaryFolder;

const fs::path tools = TOLVAR_TOOLS_DIR;

struct Outcome {
    int status = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs a tool with arguments (none holds a quote), capturing its two output streams apart.
Outcome runTool(const std::string& name, const std::vector<std::string>& arguments) {
    TemporaryFolder capture;
    const fs::path out = capture.path() / "out", err = capture.path() / "err";
    std::string command = "'" + (tools / name).string() + "'";
    for (const auto& argument : arguments) command += " '" + argument + "'";
    const int status = std::system((command + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testsupport::readFile(out), testsupport::readFile(err)};
}

void writeFile(const fs::path& path, const std::string& text, fs::perms mode = fs::perms(0644)) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, mode, fs::perm_options::replace);
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class ToolTest : public ::testing::Test {
public:
    static inline TemporaryFolder* keys = nullptr;
    static inline std::string team, otherTeam;

    static void SetUpTestSuite() {
        keys = new TemporaryFolder;
        const auto made = runTool("tolvar-codesign", {"--generate-key", (keys->path() / "team.pem").string()});
        const auto other = runTool("tolvar-codesign", {"--generate-key", (keys->path() / "other.pem").string()});
        ASSERT_EQ(made.status, 0) << made.errors;
        ASSERT_EQ(other.status, 0) << other.errors;
        team = firstLine(made.output);
        otherTeam = firstLine(other.output);
    }
    static void TearDownTestSuite() {
        delete keys;
        keys = nullptr;
    }
    static fs::path teamKey() { return keys->path() / "team.pem"; }
    static fs::path otherKey() { return keys->path() / "other.pem"; }

    TemporaryFolder home;
    fs::path bundle = home.path() / "Tolvar.app";

    // Laid out as Tolvar.app, with this machine's /bin/true as its main executable.
    void SetUp() override { makeSignedBundle(); }

    void makeSignedBundle() {
        ASSERT_FALSE(team.empty());
        for (const char* folder : {"bin", "libexec", "share/doc"}) fs::create_directories(bundle / folder);
        for (const fs::path& folder : {bundle, bundle / "bin", bundle / "libexec", bundle / "share", bundle / "share/doc"}) {
            fs::permissions(folder, fs::perms(0755), fs::perm_options::replace);
        }
        writeFile(bundle / "Info.json",
                  R"({"CFBundleIdentifier": "app.tolvar.desktop", "CFBundleShortVersionString": "2.0", )"
                  R"("CFBundleExecutable": "bin/tolvar"})");
        fs::copy_file("/bin/true", bundle / "bin" / "tolvar");
        fs::permissions(bundle / "bin" / "tolvar", fs::perms(0755), fs::perm_options::replace);
        writeFile(bundle / "libexec" / "helper", "#!/bin/sh\nexit 0\n", fs::perms(0755));
        writeFile(bundle / "share" / "doc" / "README", "Tolvar\n");
        fs::create_symlink("doc/README", bundle / "share" / "README");
        sign(teamKey());
    }

    void sign(const fs::path& key) {
        const auto signedNow = runTool("tolvar-codesign", {"--sign", key.string(), bundle.string()});
        ASSERT_EQ(signedNow.status, 0) << signedNow.errors;
    }

    Outcome verify() { return runTool("tolvar-codesign", {"--verify", "--deep", "--strict", bundle.string()}); }
    Outcome describe() { return runTool("tolvar-codesign", {"-dv", bundle.string()}); }
    Outcome assess() { return runTool("tolvar-assess", {"-a", "-t", "exec", "-vv", bundle.string()}); }

    // The signature check fails with exit status 1 and this complaint on standard error.
    void expectVerifyFails(const std::string& complaint) {
        const auto verified = verify();
        EXPECT_EQ(verified.status, 1);
        EXPECT_EQ(verified.errors, bundle.string() + ": " + complaint + "\n");
        EXPECT_EQ(verified.output, "");
    }

    // The assessment rejects the bundle with exit status 3 and this reason.
    void expectRejected(const std::string& reason) {
        const auto assessed = assess();
        EXPECT_EQ(assessed.status, 3);
        EXPECT_EQ(assessed.errors, bundle.string() + ": rejected\nsource=" + reason + "\n");
    }
};

TEST_F(ToolTest, KeysAreOwnerOnlyAndNameTheirTeam) {
    EXPECT_NE(team, otherTeam);
    struct stat info {};
    ASSERT_EQ(stat(teamKey().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const auto of = runTool("tolvar-codesign", {"--team-of-key", teamKey().string()});
    EXPECT_EQ(of.status, 0);
    EXPECT_EQ(of.output, team + "\n");
    // An existing key file is never overwritten.
    const auto again = runTool("tolvar-codesign", {"--generate-key", teamKey().string()});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(runTool("tolvar-codesign", {"--team-of-key", teamKey().string()}).output, team + "\n");
}

TEST_F(ToolTest, SigningNamesTheTeamAndASignedBundleVerifiesAndIsDescribedTeamFirst) {
    const auto signedAgain = runTool("tolvar-codesign", {"--sign", teamKey().string(), bundle.string()});
    EXPECT_EQ(signedAgain.status, 0);
    EXPECT_EQ(signedAgain.errors, bundle.string() + ": signed bundle, TeamIdentifier=" + team + "\n");
    const auto verified = verify();
    EXPECT_EQ(verified.status, 0) << verified.errors;
    EXPECT_EQ(verified.errors, bundle.string() + ": valid on disk\n" + bundle.string() +
                                   ": satisfies its Designated Requirement\n");
    EXPECT_EQ(runTool("tolvar-codesign", {"--verify", bundle.string()}).status, 0);
    const auto described = describe();
    EXPECT_EQ(described.status, 0);
    EXPECT_EQ(described.output, "");
    EXPECT_EQ(described.errors, "TeamIdentifier=" + team + "\nExecutable=" + bundle.string() +
                                    "/bin/tolvar\nIdentifier=app.tolvar.desktop\nFormat=bundle\n");
    const auto assessed = assess();
    EXPECT_EQ(assessed.status, 0) << assessed.errors;
    EXPECT_EQ(assessed.errors, bundle.string() + ": accepted\nsource=Tolvar signed bundle\norigin=" + team + "\n");
}

// Each way of changing a signed bundle, and the complaint that names it.
TEST_F(ToolTest, EveryChangeAfterSigningFailsTheCheck) {
    const fs::path readme = bundle / "share" / "doc" / "README";
    const std::string sealed = "a sealed resource is missing or invalid: ";
    const std::string altered = "invalid signature (code or signature have been modified)";
    const std::vector<std::tuple<std::function<void()>, std::string>> cases{
        {[&] { writeFile(bundle / "bin" / "extra", "#!/bin/sh\n", fs::perms(0755)); }, "file added: bin/extra"},
        {[&] { writeFile(bundle / "_CodeSignature" / "CodeRequirements", "anything\n"); },
         "file added: _CodeSignature/CodeRequirements"},
        {[&] { fs::remove(bundle / "libexec" / "helper"); }, "file missing: libexec/helper"},
        {[&] { writeFile(readme, "Tolvar!\n"); }, "file modified: share/doc/README"},
        {[&] { writeFile(readme, "Tolvax\n"); }, "file modified: share/doc/README"},
        {[&] { fs::permissions(readme, fs::perms(0755), fs::perm_options::replace); }, "file modified: share/doc/README"},
        {[&] { fs::permissions(bundle / "libexec" / "helper", fs::perms(0700), fs::perm_options::replace); },
         "disallowed mode 0700: libexec/helper"},
        // A link to the same content is an entry of another kind.
        {[&] {
             fs::rename(readme, readme.string() + ".real");
             fs::create_symlink("README.real", readme);
         },
         "file modified: share/doc/README"},
        {[&] { fs::create_symlink("../../../etc/passwd", bundle / "share" / "passwd"); },
         "link leaves the bundle: share/passwd"},
        {[&] { fs::create_symlink("/etc/passwd", bundle / "share" / "passwd"); }, "link leaves the bundle: share/passwd"},
        {[&] { ASSERT_EQ(mkfifo((bundle / "share" / "fifo").c_str(), 0644), 0); }, "special file: share/fifo"},
        {[&] {
             writeFile(home.path() / "outside", "secret\n");
             fs::create_hard_link(home.path() / "outside", bundle / "share" / "outside");
         },
         "hard link: share/outside"},
        {[&] {
             std::string signature = testsupport::readFile(bundle / "_CodeSignature" / "CodeSignature");
             const auto at = signature.find("Signature ", signature.find('\n')) + 10;
             signature[at] = signature[at] == '0' ? '1' : '0';
             writeFile(bundle / "_CodeSignature" / "CodeSignature", signature);
         },
         altered},
        // A file altered and a manifest that matches it put beside the team's signature.
        {[&] {
             const std::string teamSignature = testsupport::readFile(bundle / "_CodeSignature" / "CodeSignature");
             writeFile(readme, "Altered\n");
             sign(otherKey());
             writeFile(bundle / "_CodeSignature" / "CodeSignature", teamSignature);
             EXPECT_EQ(firstLine(describe().errors), "TeamIdentifier=" + team);
         },
         altered},
    };
    for (const auto& [change, complaint] : cases) {
        SCOPED_TRACE(complaint);
        fs::remove_all(bundle);
        fs::remove(home.path() / "outside");
        makeSignedBundle();
        change();
        expectVerifyFails(complaint.starts_with("invalid") ? complaint : sealed + complaint);
    }
}

TEST_F(ToolTest, LinkThatLeavesTheBundleCannotBeSigned) {
    fs::create_symlink("../..", bundle / "share" / "up");
    const auto signedNow = runTool("tolvar-codesign", {"--sign", teamKey().string(), bundle.string()});
    EXPECT_EQ(signedNow.status, 1);
    EXPECT_EQ(signedNow.errors, bundle.string() + ": link leaves the bundle: share/up\n");
}

TEST_F(ToolTest, ForeignSignatureFileNamingTheTeamsPublicKey) {
    // The impostor copies the team's public key into its own signature file: the description then
    // names the team, but the signature does not verify, so no check that verifies first is fooled.
    const std::string teamPublicKey = [&] {
        const std::string text = testsupport::readFile(bundle / "_CodeSignature" / "CodeSignature");
        const auto start = text.find("PublicKey ");
        return text.substr(start, text.find('\n', start) - start);
    }();
    writeFile(bundle / "share" / "doc" / "README", "Impostor\n");
    sign(otherKey());
    std::string signature = testsupport::readFile(bundle / "_CodeSignature" / "CodeSignature");
    const auto start = signature.find("PublicKey ");
    signature.replace(start, signature.find('\n', start) - start, teamPublicKey);
    writeFile(bundle / "_CodeSignature" / "CodeSignature", signature);
    EXPECT_EQ(firstLine(describe().errors), "TeamIdentifier=" + team);
    expectVerifyFails("invalid signature (code or signature have been modified)");
    expectRejected("code signature invalid: invalid signature (code or signature have been modified)");
}

// Each reason the assessment rejects a bundle; `resign` signs the changed bundle again first.
TEST_F(ToolTest, AssessmentRejectsWhatCannotRunHere) {
    const auto info = [&](const std::string& executable) {
        writeFile(bundle / "Info.json", R"({"CFBundleIdentifier": "app.tolvar.desktop", "CFBundleShortVersionString": "2.0")" +
                                            (executable.empty() ? "" : R"(, "CFBundleExecutable": ")" + executable + "\"") + "}");
    };
    const auto mode = [&](const fs::path& entry, fs::perms perms) {
        fs::permissions(bundle / entry, perms, fs::perm_options::add);
    };
    const std::string sealed = "code signature invalid: a sealed resource is missing or invalid: ";
    const std::vector<std::tuple<std::function<void()>, bool, std::string>> cases{
        {[&] { fs::remove_all(bundle / "_CodeSignature"); }, false, "code signature invalid: code object is not signed at all"},
        {[&] { writeFile(bundle / "bin" / "tolvar", "#!/bin/sh\nexec /bin/true\n", fs::perms(0755)); }, true,
         "the main executable is not an ELF program: bin/tolvar"},
        {[&] { claimAnotherArchitecture(bundle / "bin" / "tolvar"); }, true, "the main executable is built for another architecture"},
        {[&] { info("../../bin/true"); }, true, "the main executable is outside the bundle"},
        {[&] { info("share/README"); }, true, "the main executable is missing: share/README"},
        {[&] { info(""); }, true, "no main executable named in Info.json"},
        {[&] { mode("bin/tolvar", fs::perms::set_uid); }, false, sealed + "disallowed mode 4755: bin/tolvar"},
        {[&] { mode("libexec", fs::perms::set_gid); }, false, sealed + "disallowed mode 2755: libexec"},
        {[&] { mode("share/doc/README", fs::perms::others_write); }, false, sealed + "disallowed mode 0646: share/doc/README"},
        {[&] { mode(".", fs::perms::group_write); }, false, sealed + "disallowed mode 0775: ."},
    };
    for (const auto& [change, resign, reason] : cases) {
        SCOPED_TRACE(reason);
        fs::remove_all(bundle);
        makeSignedBundle();
        change();
        if (resign) sign(teamKey());
        expectRejected(reason);
    }
}

}  // namespace
