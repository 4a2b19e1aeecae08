#include "devservice/Options.h"

#include <charconv>

#include "devservice/Text.h"

namespace devservice {
namespace {

std::optional<int> parseNumber(const std::string& text, int low, int high) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    if (value < low || value > high) return std::nullopt;
    return value;
}

}  // namespace

std::string usage() {
    return "Usage: tolvar-devservice --data DIR [--port N] [--releases DIR] [--pages DIR]\n"
           "                         [--demo-session TOKEN] [--client-timeout SECONDS]\n"
           "                         [--fetch-timeout SECONDS]\n"
           "\n"
           "A local stand-in for the Tolvar service host, listening on 127.0.0.1 only.\n"
           "The first line written to standard output is the base address, e.g. http://127.0.0.1:41234.\n"
           "\n"
           "  --data DIR              folder of the database (created when missing)\n"
           "  --port N                port to listen on; 0 (the default) picks a free one\n"
           "  --releases DIR          folder served under /downloads/ (version.json and archives)\n"
           "  --pages DIR             folder served under /fixtures/ (test pages)\n"
           "  --demo-session TOKEN    create or refresh a session with this token for the demo user\n"
           "  --client-timeout SECS   disconnect a client that stays silent, or has not sent its whole\n"
           "                          request, this long (default 30)\n"
           "  --fetch-timeout SECS    time limit of one title lookup (default 5)\n"
           "\n"
           "The demo user is \"demo\" with the password \"tolvar-demo\".\n";
}

std::variant<Options, ShowHelp, OptionsError> parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    bool haveData = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (name == "--help" || name == "-h") return ShowHelp{};
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 >= arguments.size()) return std::nullopt;
            return arguments[++i];
        };

        if (name == "--port" || name == "--client-timeout" || name == "--fetch-timeout") {
            const auto text = takeValue();
            if (!text) return OptionsError{name + " needs a value"};
            const bool isPort = name == "--port";
            const auto number = parseNumber(*text, isPort ? 0 : 1, isPort ? 65535 : 3600);
            if (!number) return OptionsError{name + ": not a valid number: " + *text};
            if (isPort) {
                options.port = *number;
            } else if (name == "--client-timeout") {
                options.clientTimeoutSeconds = *number;
            } else {
                options.fetchTimeoutSeconds = *number;
            }
        } else if (name == "--data" || name == "--releases" || name == "--pages") {
            const auto text = takeValue();
            if (!text || text->empty()) return OptionsError{name + " needs a folder"};
            if (name == "--data") {
                options.dataDir = *text;
                haveData = true;
            } else if (name == "--releases") {
                options.releases = *text;
            } else {
                options.pages = *text;
            }
        } else if (name == "--demo-session") {
            const auto text = takeValue();
            if (!text) return OptionsError{"--demo-session needs a token"};
            if (!text::isCookieSafe(*text)) {
                return OptionsError{"--demo-session: the token must be 1 to 512 characters that a cookie can hold "
                                    "(no spaces, quotes, commas, semicolons or backslashes)"};
            }
            options.demoSession = *text;
        } else {
            return OptionsError{"unknown argument: " + arguments[i]};
        }
    }
    if (!haveData) return OptionsError{"--data DIR is required"};
    return options;
}

}  // namespace devservice
