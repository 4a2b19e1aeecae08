#include "update/InstallProgress.h"

#include <algorithm>

namespace InstallProgress {

std::string sizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kilo = 1000, mega = kilo * kilo, giga = mega * kilo;
    if (bytes < kilo) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < mega) return std::to_string(bytes / kilo) + " kB";
    const auto [unit, name] = bytes < giga ? std::pair{mega, " MB"} : std::pair{giga, " GB"};
    const std::uint64_t tenths = bytes / (unit / 10);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + name;
}

std::string figuresText(std::uint64_t received, const std::optional<std::uint64_t>& total) {
    if (!total) return sizeText(received);
    return sizeText(received) + " of " + sizeText(*total);
}

View viewOf(const std::string& version, const Progress& progress, bool cancelling) {
    View view{.heading = "Updating to Tolvar " + version};
    if (cancelling) {
        view.barText = "Cancelling…";
        view.cancellable = false;
        return view;
    }
    switch (progress.phase) {
        case Phase::downloading:
            view.barText = figuresText(progress.received, progress.total);
            if (progress.total && *progress.total > 0) {
                view.fraction = std::min(1.0, static_cast<double>(progress.received) / static_cast<double>(*progress.total));
            }
            break;
        case Phase::verifying: view.barText = "Verifying…"; break;
        case Phase::installing:
            // The swap is one short exchange that cannot be taken back half way.
            view.barText = "Installing…";
            view.cancellable = false;
            break;
    }
    return view;
}

}  // namespace InstallProgress
