#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// An application-modal alert: a message, an informative text below it, and buttons in order, the
// first of them the default.
struct AlertContent {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;
};

// Shows the alert and waits for it to end (the main loop keeps running inside). Answers the index of
// the chosen button, or -1 when it ended otherwise (closed by the window manager). Main thread only.
int runModalAlert(const AlertContent& alert);

}  // namespace platform
