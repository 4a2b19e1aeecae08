#include "automation/Commands.h"

#include "automation/CommandPump.h"
#include "automation/E2E.h"
#include "core/Text.h"

namespace E2E {

void Commands::add(const std::string& verb, Handler handler) { handlers_[verb] = std::move(handler); }

void Commands::run(const std::string& line) const {
    const auto space = line.find(' ');
    const auto handler = handlers_.find(std::string_view(line).substr(0, space));
    if (handler == handlers_.end()) {
        report("unknown-command", {{"line", core::leadingCharacters(line, longestReportedLine)}});
        return;
    }
    handler->second(space == std::string::npos ? "" : line.substr(space + 1));
}

Commands& commands() {
    static Commands table;
    return table;
}

void startCommandPump() {
    startCommandPump([](const std::string& line) { commands().run(line); });
}

}  // namespace E2E
