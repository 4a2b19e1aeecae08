#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The command line of tolvar-devservice.
namespace devservice {

struct Options {
    int port = 0;                                   // 0: any free port
    std::filesystem::path dataDir;                  // required
    std::optional<std::filesystem::path> releases;  // served under /downloads/
    std::optional<std::filesystem::path> pages;     // served under /fixtures/
    std::optional<std::string> demoSession;         // session token planted for the demo user
    int clientTimeoutSeconds = 30;                  // a client silent this long is disconnected
    int fetchTimeoutSeconds = 5;                    // whole title lookup, redirects included
};

struct ShowHelp {};

struct OptionsError {
    std::string message;
};

// Reads the arguments after the program name. Accepts "--name value" and "--name=value".
std::variant<Options, ShowHelp, OptionsError> parseOptions(const std::vector<std::string>& arguments);

std::string usage();

}  // namespace devservice
