#include "app/CommandLine.h"

#include <optional>
#include <utility>

namespace CommandLine {
namespace {

constexpr std::pair<const char*, Command> alone[] = {
    {"--background", Command::background}, {"--quick-save", Command::quickSave},
    {"--install", Command::install},       {"--uninstall", Command::uninstall},
    {"--install-browser-helpers", Command::installBrowserHelpers},
    {"--help", Command::help},             {"-h", Command::help},
    {"--version", Command::version},
};

std::optional<Command> commandNamed(const std::string& argument) {
    for (const auto& [name, command] : alone) {
        if (argument == name) return command;
    }
    return std::nullopt;
}

}  // namespace

std::variant<Options, Error> parse(const std::vector<std::string>& arguments) {
    Options options;
    bool commandSeen = false;
    for (const auto& argument : arguments) {
        if (argument == "--purge") {
            options.purge = true;
            continue;
        }
        const auto command = commandNamed(argument);
        if (!command) {
            const bool looksLikeOption = argument.starts_with("-");
            return Error{"tolvar: " + std::string(looksLikeOption ? "unknown option" : "unexpected argument") +
                         " '" + argument + "'"};
        }
        if (commandSeen) return Error{"tolvar: '" + argument + "' cannot be combined with another option"};
        commandSeen = true;
        options.command = *command;
    }
    if (options.purge && options.command != Command::uninstall) {
        return Error{"tolvar: '--purge' goes only with '--uninstall'"};
    }
    return options;
}

std::string helpText() {
    return "Usage: tolvar [OPTION]\n"
           "Tolvar Desktop: your Tolvar bookmarks in a window of their own, with quick save (Ctrl+Alt+B).\n"
           "\n"
           "  --background               start with the status item, hot key and updates, without the window\n"
           "  --quick-save               open the quick-save panel (starting Tolvar if it is not running)\n"
           "  --install                  install this Tolvar.app for the current user, with launcher and login item\n"
           "  --uninstall [--purge]      remove that installation; --purge also removes the session and settings\n"
           "  --install-browser-helpers  set up this Tolvar.app's browser extension and its helper for the current user\n"
           "  --help                     show this help and exit\n"
           "  --version                  show the version and exit\n"
           "\n"
           "Without an option Tolvar starts, or shows the window of the Tolvar already running.\n";
}

}  // namespace CommandLine
