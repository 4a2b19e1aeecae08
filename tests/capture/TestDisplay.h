#pragma once

#include <optional>
#include <string>

// The X display of a test, for what a window manager would do: finding a window and making it the
// active one. Xlib stays out of this header, because its macros clash with GoogleTest's names.
class TestDisplay {
public:
    TestDisplay();
    ~TestDisplay();
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    bool open() const { return display_ != nullptr; }

    // A viewable top-level window of that class whose title (_NET_WM_NAME) contains `part`.
    std::optional<unsigned long> findWindow(const std::string& windowClass, const std::string& part);

    // Announces the window as active on the root window (_NET_ACTIVE_WINDOW), raises it and gives it
    // the input focus, as a window manager does when the user clicks it.
    void activate(unsigned long window);

private:
    std::string title(unsigned long window);
    void* display_;
};
