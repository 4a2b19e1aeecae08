#pragma once

namespace platform {

// A rectangle in logical pixels (points), with the origin at its top-left corner.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
};

}  // namespace platform
