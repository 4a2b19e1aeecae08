#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

std::string runQuickBench(int& status) {
    FILE* pipe = popen(USER_BENCH_EXECUTABLE " --quick", "r");
    std::string output;
    if (pipe == nullptr) return output;
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, count);
    status = pclose(pipe);
    return output;
}

TEST(UserBench, QuickRunMeasuresEveryFigureAndPrintsOneJsonLine) {
    int status = -1;
    const std::string output = runQuickBench(status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    ASSERT_FALSE(output.empty());
    const auto lastLine = output.substr(output.rfind('\n', output.size() - 2) + 1);
    const auto report = nlohmann::json::parse(lastLine, nullptr, false);
    ASSERT_TRUE(report.is_object()) << output;

    EXPECT_EQ(report["bench"], "tolvar-user");
    EXPECT_EQ(report["quick"], true);
    EXPECT_EQ(report["rounds"], 1);
    EXPECT_TRUE(report["loadAverage"].contains("before") && report["loadAverage"].contains("after"));
    EXPECT_TRUE(report["notes"].is_array());

    // Every figure was taken: a missing one is null in the report.
    const auto& medians = report["medians"];
    for (const char* figure : {"start.tolvar", "start.webkit", "memory.tolvar", "memory.webkit",
                               "memoryHidden.tolvar", "memoryHidden.webkit", "hotKeyFirst", "hotKey",
                               "quickSaveRunning", "quickSaveCold", "save", "verify.codesign", "verify.sha256sum",
                               "memory.tray.background", "memory.tray.afterPanel", "memory.tray.asleep",
                               "memory.tray.gtk", "tray.titleFromSleep", "tray.saveFromSleep"}) {
        EXPECT_TRUE(medians[figure].is_number() && medians[figure].get<double>() > 0) << figure << "\n" << output;
    }
    for (const char* figure : {"idleCpu.tolvar", "idleCpu.webkit", "idleWakeUps.tolvar", "idleWakeUps.webkit"}) {
        EXPECT_TRUE(medians[figure].is_number() && medians[figure].get<double>() >= 0) << figure;
    }
    // Page frame numbers are readable by root only; elsewhere these figures are 0.
    for (const char* figure : {"memoryAlone.tolvar", "memoryAlone.webkit"}) {
        EXPECT_TRUE(medians[figure].is_number() && (geteuid() != 0 || medians[figure].get<double>() > 0)) << figure;
    }
    if (std::filesystem::exists("/usr/bin/chromium")) {
        EXPECT_TRUE(medians["start.chromium"].is_number()) << output;
        EXPECT_TRUE(medians["memory.chromium"].is_number()) << output;
    }
    for (const char* target : {"start", "memory", "hotKey", "quickSaveRunning", "quickSaveCold", "verify", "idle",
                               "trayAsleep", "trayVsGtk", "titleFromSleep", "saveFromSleep"}) {
        EXPECT_TRUE(report["targetValues"][target].is_number()) << target;
        EXPECT_TRUE(report["targetsMet"][target].is_boolean()) << target;
    }
}

}  // namespace
