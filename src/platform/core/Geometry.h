#pragma once
// Screen geometry in points, with the origin at the bottom-left corner and y
// growing upwards. A Rect may hold a negative width or height; its min, mid
// and max edges and its width and height read it as if standardized.

#include <algorithm>
#include <cmath>

namespace platform {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(Point o, Size s) : origin(o), size(s) {}
    constexpr Rect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}

    double minX() const { return std::min(origin.x, origin.x + size.width); }
    double maxX() const { return std::max(origin.x, origin.x + size.width); }
    double midX() const { return origin.x + size.width / 2; }
    double minY() const { return std::min(origin.y, origin.y + size.height); }
    double maxY() const { return std::max(origin.y, origin.y + size.height); }
    double midY() const { return origin.y + size.height / 2; }
    double width() const { return std::abs(size.width); }
    double height() const { return std::abs(size.height); }

    bool operator==(const Rect&) const = default;
};

// Whether the two share some area; rectangles that only touch along an edge
// do not.
inline bool intersects(const Rect& a, const Rect& b) {
    return std::max(a.minX(), b.minX()) < std::min(a.maxX(), b.maxX()) &&
           std::max(a.minY(), b.minY()) < std::min(a.maxY(), b.maxY());
}

}  // namespace platform
