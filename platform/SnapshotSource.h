#pragma once

#include <optional>
#include <string>

namespace platform {

// A window that can draw itself into a PNG picture, frame and menu bar included, as the user sees it.
class SnapshotSource {
public:
    virtual ~SnapshotSource() = default;

    // Nothing when no picture could be drawn at all; an empty text when it was drawn but could not
    // be encoded as PNG.
    virtual std::optional<std::string> snapshotPNG() const = 0;
};

}  // namespace platform
