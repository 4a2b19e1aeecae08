#include <algorithm>
#include <thread>

#include "EndToEnd.h"

namespace e2e {
namespace {

TEST_F(EndToEndTest, MainWindowCommandsGoClickAndScripts) {
    launch();
    send("go /fixtures/long.html\n");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/fixtures/long.html");

    send("click #far\n");
    EXPECT_EQ(expect("clicked")["selector"], "#far");
    send("js return document.title\n");
    EXPECT_EQ(expect("js-result")["result"], "clicked far");
    send("click #nothing-here\n");
    EXPECT_EQ(expect("click-failed")["selector"], "#nothing-here");

    send("js return 6 * 7\n");
    EXPECT_EQ(expect("js-result")["result"], "42");
    send("js let unused = 1;\n");
    EXPECT_EQ(expect("js-result")["result"], "null");
    send("js throw new Error('boom')\n");
    const std::string error = expect("js-result")["result"];
    EXPECT_TRUE(error.starts_with("ERROR ")) << error;
    EXPECT_NE(error.find("boom"), std::string::npos) << error;
    send("js return 'é'.repeat(2500)\n");
    EXPECT_EQ(expect("js-result")["result"].get<std::string>().size(), 2000u * 2);

    send("frobnicate  now\nPresent\n");
    EXPECT_EQ(expect("unknown-command")["line"], "frobnicate  now");
    EXPECT_EQ(expect("unknown-command")["line"], "Present");

    send("go " + service->base() + "/fixtures/titled.html\n");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/fixtures/titled.html");
}

TEST_F(EndToEndTest, ThousandCommandsRunOnceInOrder) {
    launch();
    std::string lines;
    for (int i = 1; i <= 1000; ++i) lines += "js return '" + std::to_string(i) + "'\n";
    send(lines);
    std::vector<std::string> results;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (results.size() < 1000 && std::chrono::steady_clock::now() < deadline) {
        results.clear();
        for (const auto& event : journal.events()) {
            if (event["event"] == "js-result") results.push_back(event["result"]);
        }
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ(results.size(), 1000u);
    for (int i = 1; i <= 1000; ++i) ASSERT_EQ(results[size_t(i - 1)], std::to_string(i));

    // A shorter replacement runs nothing again; lines past the counter run once more lines exist.
    std::ofstream(automation / "cmd", std::ios::trunc) << "js return 'replaced'\n";
    std::this_thread::sleep_for(600ms);  // a few polls see only the shorter file
    std::string longer;
    for (int i = 1; i <= 1000; ++i) longer += "js return 'old'\n";
    std::ofstream(automation / "cmd", std::ios::trunc) << longer << "js return 'new'\n";
    lastSeq = 0;
    expect("js-result", [](const json& event) { return event["result"] == "new"; });
    for (const auto& event : journal.events()) {
        EXPECT_NE(event.value("result", ""), "replaced");
        EXPECT_NE(event.value("result", ""), "old");
    }
}

TEST_F(EndToEndTest, OutsideLinksGoToTheDefaultHandlerAndTheWindowStays) {
    // A stand-in "browser" and mail program for this user: it writes each address it is given.
    const auto opened = home.path() / "opened.txt";
    const auto data = home.path() / "data";
    std::filesystem::create_directories(data / "applications");
    std::ofstream(data / "applications" / "recorder.desktop")
        << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=sh -c 'echo \"$1\" >> " << opened.string()
        << "' recorder %u\nMimeType=x-scheme-handler/https;x-scheme-handler/mailto;\n";
    std::filesystem::create_directories(home.path() / "config");
    std::ofstream(home.path() / "config" / "mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/https=recorder.desktop\nx-scheme-handler/mailto=recorder.desktop\n";
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
    send("click #mail\n");
    expect("clicked");
    EXPECT_EQ(openedAddresses(2), "https://example.org/outside\nmailto:someone@example.org\n");
    send("click #outside-window\n");
    expect("clicked");
    EXPECT_EQ(openedAddresses(3),
              "https://example.org/outside\nmailto:someone@example.org\nhttps://example.org/popup\n");
    send("js return location.href\n");
    EXPECT_EQ(expect("js-result")["result"], links);  // the window stayed on its page

    // Our own page asked for in a new window opens in the main window instead.
    send("click #inside-window\n");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/fixtures/titled.html");
    send("go " + links + "\n");
    expect("web-loaded");
    send("click #blank\n");
    EXPECT_EQ(expect("web-loaded")["url"], "about:blank");
}

}  // namespace
}  // namespace e2e
