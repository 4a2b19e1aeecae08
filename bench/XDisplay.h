#pragma once

#include <chrono>
#include <optional>
#include <string>

typedef struct _XDisplay Display;

// A connection to one X display, from the benchmark's own process: windows are found and watched
// through Xlib and keys are synthesized through XTest, so no helper program's start-up is counted.
namespace bench {

class XDisplay {
public:
    explicit XDisplay(const std::string& name);  // throws when the display cannot be opened
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // A top-level window with exactly this title (_NET_WM_NAME or WM_NAME), when there is one.
    std::optional<unsigned long> windowTitled(const std::string& title);
    bool viewable(unsigned long window);
    // Polls (about every half millisecond) until a window of that title is viewable, or not.
    // Answers the window, or nothing when the time ran out.
    std::optional<unsigned long> waitViewable(const std::string& title, std::chrono::milliseconds timeout);
    bool waitHidden(unsigned long window, std::chrono::milliseconds timeout);

    // Presses and releases the key, holding the modifiers ("Control_L", "Alt_L") down meanwhile.
    void pressKey(const std::string& key, std::initializer_list<const char*> modifiers = {});
    void focus(unsigned long window);
    // Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW).
    void close(unsigned long window);

private:
    Display* display_;
};

}  // namespace bench
