#pragma once
// A colour as calibrated RGB components and alpha, each from 0 to 1.

namespace platform {

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    bool operator==(const Color&) const = default;
};

}  // namespace platform
