#pragma once
// A drawing path in points: lines, quadratic curves, rectangles, ellipses
// and rounded rectangles. Rounded-rectangle radii are clamped to half the
// shorter side (and to zero from below) when added, so every consumer sees
// a drawable shape.

#include <vector>

#include "platform/core/Geometry.h"

namespace platform {

class Path {
public:
    enum class ElementKind { moveTo, lineTo, quadCurveTo, closeSubpath, rect, ellipse, roundedRect };
    struct Element {
        ElementKind kind;
        Point point;    // end point of moveTo, lineTo, quadCurveTo
        Point control;  // quadCurveTo
        Rect rect;      // rect, ellipse, roundedRect
        double radiusX = 0, radiusY = 0;
        bool operator==(const Element&) const = default;
    };

    static Path rectangle(const Rect& rect);
    static Path ellipse(const Rect& rect);
    static Path roundedRect(const Rect& rect, double radiusX, double radiusY);
    static Path line(Point from, Point to);
    // A closed subpath from `a` through `b` to `c`.
    static Path triangle(Point a, Point b, Point c);

    void moveTo(Point point);
    void lineTo(Point point);
    void quadCurveTo(Point end, Point control);
    void closeSubpath();
    void addRect(const Rect& rect);
    void addEllipse(const Rect& rect);
    void addRoundedRect(const Rect& rect, double radiusX, double radiusY);

    const std::vector<Element>& elements() const { return elements_; }
    bool isEmpty() const { return elements_.empty(); }
    // Smallest rectangle holding every point, control point and shape.
    Rect boundingBox() const;

    bool operator==(const Path&) const = default;

private:
    std::vector<Element> elements_;
};

}  // namespace platform
