#include "platform/drawing/Path.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

Path Path::rectangle(const Rect& rect) {
    Path path;
    path.addRect(rect);
    return path;
}

Path Path::ellipse(const Rect& rect) {
    Path path;
    path.addEllipse(rect);
    return path;
}

Path Path::roundedRect(const Rect& rect, double radiusX, double radiusY) {
    Path path;
    path.addRoundedRect(rect, radiusX, radiusY);
    return path;
}

Path Path::line(Point from, Point to) {
    Path path;
    path.moveTo(from);
    path.lineTo(to);
    return path;
}

Path Path::triangle(Point a, Point b, Point c) {
    Path path = line(a, b);
    path.lineTo(c);
    path.closeSubpath();
    return path;
}

void Path::moveTo(Point point) { elements_.push_back({ElementKind::moveTo, point, {}, {}}); }
void Path::lineTo(Point point) { elements_.push_back({ElementKind::lineTo, point, {}, {}}); }
void Path::quadCurveTo(Point end, Point control) { elements_.push_back({ElementKind::quadCurveTo, end, control, {}}); }
void Path::closeSubpath() { elements_.push_back({ElementKind::closeSubpath, {}, {}, {}}); }
void Path::addRect(const Rect& rect) { elements_.push_back({ElementKind::rect, {}, {}, rect}); }
void Path::addEllipse(const Rect& rect) { elements_.push_back({ElementKind::ellipse, {}, {}, rect}); }

void Path::addRoundedRect(const Rect& rect, double radiusX, double radiusY) {
    // A radius beyond half a side would make the corner arcs overlap.
    auto clamp = [](double radius, double side) {
        if (!(radius > 0)) return 0.0;
        return std::min(radius, side / 2);
    };
    Element element{ElementKind::roundedRect, {}, {}, rect};
    element.radiusX = clamp(radiusX, rect.width());
    element.radiusY = clamp(radiusY, rect.height());
    elements_.push_back(element);
}

Rect Path::boundingBox() const {
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    auto include = [&](Point p) {
        minX = std::min(minX, p.x);
        minY = std::min(minY, p.y);
        maxX = std::max(maxX, p.x);
        maxY = std::max(maxY, p.y);
    };
    for (const auto& e : elements_) {
        switch (e.kind) {
        case ElementKind::closeSubpath: break;
        case ElementKind::quadCurveTo: include(e.control); [[fallthrough]];
        case ElementKind::moveTo:
        case ElementKind::lineTo: include(e.point); break;
        default:
            include({e.rect.minX(), e.rect.minY()});
            include({e.rect.maxX(), e.rect.maxY()});
        }
    }
    if (minX > maxX) return {};
    return {minX, minY, maxX - minX, maxY - minY};
}

}  // namespace platform
