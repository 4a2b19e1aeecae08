// The command pump over a file written in two pieces: every line it runs is one non-empty line of
// UTF-8 without a line feed, whatever the bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "automation/CommandPump.h"
#include "core/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = [] {
        static const std::string made = "/tmp/tolvar-fuzz-cmd-" + std::to_string(::getpid());
        std::atexit([] { std::remove(made.c_str()); });
        return made;
    }();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = size > 0 ? data[0] % (size + 1) : 0;
    std::ofstream(file, std::ios::binary | std::ios::trunc);
    E2E::detail::CommandPump pump(
        file,
        [](const std::string& line) {
            if (line.empty() || line.find('\n') != std::string::npos || !core::isValidUTF8(line)) std::abort();
        },
        [](const std::string& line) {
            if (!core::isValidUTF8(line)) std::abort();
        },
        {.bytesPerTick = 64, .commandsPerTick = 4, .longestLine = 32});
    for (const auto& piece : {bytes.substr(0, cut), bytes.substr(cut)}) {
        std::ofstream(file, std::ios::binary | std::ios::app) << piece;
        for (int tick = 0; tick < 8; ++tick) pump.tick();
    }
    return 0;
}
