#include <algorithm>
#include <thread>

#include "EndToEnd.h"

namespace e2e {
namespace {

// The commands through the real web view; their decisions are unit-tested.
TEST_F(EndToEndTest, MainWindowCommandsGoClickAndScripts) {
    launch();
    send("go /fixtures/long.html\n");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/fixtures/long.html");

    send("click #far\n");
    EXPECT_EQ(expect("clicked")["selector"], "#far");
    send("js return document.title\n");
    EXPECT_EQ(expect("js-result")["result"], "clicked far");
}

TEST_F(EndToEndTest, OutsideLinksGoToTheDefaultHandlerAndTheWindowStays) {
    // A stand-in browser for this user: it writes each address it is given.
    const auto opened = home.path() / "opened.txt";
    const auto data = home.path() / "data";
    std::filesystem::create_directories(data / "applications");
    std::ofstream(data / "applications" / "recorder.desktop")
        << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=sh -c 'echo \"$1\" >> " << opened.string()
        << "' recorder %u\nMimeType=x-scheme-handler/https;\n";
    std::filesystem::create_directories(home.path() / "config");
    std::ofstream(home.path() / "config" / "mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/https=recorder.desktop\n";
    launch();
    const std::string links = service->base() + "/fixtures/links.html";
    send("go " + links + "\n");
    expect("web-loaded");

    auto openedAddresses = [&](size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
        std::string text;
        while (std::chrono::steady_clock::now() < deadline) {
            text = testsupport::readFile(opened);
            if (size_t(std::count(text.begin(), text.end(), '\n')) >= count) break;
            std::this_thread::sleep_for(100ms);
        }
        return text;
    };
    send("click #outside\n");
    expect("clicked");
    EXPECT_EQ(openedAddresses(1), "https://example.org/outside\n");
    send("click #outside-window\n");
    expect("clicked");
    EXPECT_EQ(openedAddresses(2), "https://example.org/outside\nhttps://example.org/popup\n");
    send("js return location.href\n");
    EXPECT_EQ(expect("js-result")["result"], links);  // the window stayed on its page

    // Our own page asked for in a new window opens in the main window instead.
    send("click #inside-window\n");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/fixtures/titled.html");
}

}  // namespace
}  // namespace e2e
