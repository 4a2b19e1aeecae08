// The main window's frame kept across starts, as the X server has it.
#include <map>
#include <sstream>

#include "LaunchTest.h"

namespace launchtest {
namespace {

using ShellTest = LaunchTest;

// The main window's frame as the X server has it: "x y width height".
std::string frameOf(const std::string& window) {
    std::map<std::string, std::string> values;
    std::istringstream lines(commandOutput("xdotool getwindowgeometry --shell " + window));
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values["X"] + " " + values["Y"] + " " + values["WIDTH"] + " " + values["HEIGHT"];
}

TEST_F(ShellTest, MainWindowComesBackWhereAndAsLargeAsItWasLeft) {
    LoopbackHttpServer server([](const HttpRequest&) { return titledPage("Frame"); });
    automate(server.url("/app"));
    const fs::path settings = home.path() / "config" / "tolvar" / "defaults.ini";
    {
        AppProcess app(TOLVAR_EXECUTABLE, env);
        expect("web-loaded");
        const std::string window = waitForMainWindow();
        ASSERT_FALSE(window.empty());
        commandOutput("xdotool windowsize --sync " + window + " 900 600 windowmove --sync " + window + " 40 30");
        EXPECT_TRUE(waitUntil([&] { return testsupport::readFile(settings).find("40 30 900 600") != std::string::npos; }));
        EXPECT_EQ(app.terminate(), 0);
    }
    AppProcess app(TOLVAR_EXECUTABLE, env);
    const std::string window = waitForMainWindow();
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(frameOf(window), "40 30 900 600");
}

}  // namespace
}  // namespace launchtest
