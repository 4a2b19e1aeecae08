#pragma once

#include <string>
#include <variant>
#include <vector>

// The program's options, read before any toolkit starts.
namespace CommandLine {

enum class Command { run, background, quickSave, install, uninstall, installBrowserHelpers, help, version };

struct Options {
    Command command = Command::run;
    bool purge = false;  // with uninstall: the user's data goes too
};

// The one-line complaint about an unusable command line.
struct Error {
    std::string text;
};

// Reads the arguments after the program name.
std::variant<Options, Error> parse(const std::vector<std::string>& arguments);

// What --help prints: every option on a line of its own.
std::string helpText();

// The line that follows an error, pointing at --help.
inline constexpr const char* helpHint = "Try 'tolvar --help' for more information.";

}  // namespace CommandLine
