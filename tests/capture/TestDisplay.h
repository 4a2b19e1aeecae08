#pragma once

#include <optional>
#include <string>

// What a window manager would do on a test's X display: find a window and make it the active one.
// (No Xlib in this header: its macros clash with GoogleTest's names.)
class TestDisplay {
public:
    TestDisplay();
    ~TestDisplay();
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    bool open() const { return display_ != nullptr; }

    // A viewable top-level window of that class whose title (_NET_WM_NAME) contains `part`.
    std::optional<unsigned long> findWindow(const std::string& windowClass, const std::string& part);

    // Sets _NET_ACTIVE_WINDOW to it, raises it and gives it the focus, as when the user clicks it.
    void activate(unsigned long window);

private:
    std::string title(unsigned long window);
    void* display_;
};
