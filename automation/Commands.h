#pragma once

#include <functional>
#include <map>
#include <string>

// The verbs of the automation command file. Each controller registers the verbs it answers; a line's
// first word picks the handler and the rest of the line, after one space, is its argument.
namespace E2E {

class Commands {
public:
    using Handler = std::function<void(const std::string& argument)>;

    // Registers `verb`, replacing an earlier handler of the same verb.
    void add(const std::string& verb, Handler handler);

    // Runs one command line; a verb nobody registered is answered with "unknown-command".
    void run(const std::string& line) const;

private:
    std::map<std::string, Handler, std::less<>> handlers_;
};

// The process's command table, which the command pump runs.
Commands& commands();

// Reads the command file for the life of the process and runs its lines through commands(). Does
// nothing when automation is off.
void startCommandPump();

}  // namespace E2E
