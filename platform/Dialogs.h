#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainWindow.h"
#include "platform/WebView.h"

// File choosers and page dialogs. Each is built fresh, is modal to `parent` only (other windows of
// the application stay usable) and calls its `done` exactly once, on the main loop, when it ends.
namespace platform {

// A file chooser for a file input: folders instead of files when the input allows directories,
// several at once when it allows multiple selection, no file-type filter. Nothing on cancel.
void runOpenFileChooser(MainWindow& parent, const FileInputRequest& request,
                        std::function<void(std::optional<std::vector<std::filesystem::path>>)> done);

// A file chooser for saving, whose name field holds `suggestedName`. Nothing on cancel.
void runSaveFileChooser(MainWindow& parent, const std::string& suggestedName,
                        std::function<void(std::optional<std::filesystem::path>)> done);

// A page's alert: the message and one "OK" button.
void runAlertDialog(MainWindow& parent, const std::string& message, std::function<void()> done);

// A page's confirmation: "OK" and "Cancel"; true exactly when "OK" ended it.
void runConfirmDialog(MainWindow& parent, const std::string& message, std::function<void(bool)> done);

// A page's text input: "OK" and "Cancel" with a 300 × 24 text field holding `defaultText` (empty
// when none). The field's text, possibly empty, exactly when "OK" ended it; nothing otherwise.
void runTextInputDialog(MainWindow& parent, const std::string& prompt, const std::optional<std::string>& defaultText,
                        std::function<void(std::optional<std::string>)> done);

}  // namespace platform
