#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the window of an install the user asked for shows, decided apart from the toolkit.
namespace InstallProgress {

enum class Phase { downloading, verifying, installing };

struct Progress {
    Phase phase = Phase::downloading;
    std::uint64_t received = 0;
    std::optional<std::uint64_t> total;  // the announced length of the archive
};

// A size in decimal units, rounded down so a part never looks complete early: "850 kB", "12.3 MB",
// "1.2 GB"; below a kilobyte "512 bytes".
std::string sizeText(std::uint64_t bytes);

// "12.3 MB of 40.0 MB", or "12.3 MB" when the total is unknown.
std::string figuresText(std::uint64_t received, const std::optional<std::uint64_t>& total);

struct View {
    std::string heading;                // "Updating to Tolvar 2.0"
    std::string barText;                // byte figures, "Verifying…", "Installing…" or "Cancelling…"
    std::optional<double> fraction;     // nothing: the bar pulses
    bool cancellable = true;
};

// `cancelling` is true once the user cancelled and the installer has not stopped yet.
View viewOf(const std::string& version, const Progress& progress, bool cancelling);

}  // namespace InstallProgress
