#pragma once
// Fonts and text measurement. The system font is the desktop's sans-serif
// face; sizes are in points, measured at 72 points per inch so that a point
// is one unit of the drawing space.

#include <optional>
#include <string_view>

#include "platform/drawing/Color.h"
#include "platform/core/Geometry.h"

namespace platform {

enum class FontWeight { regular, semibold, bold };

struct Font {
    double pointSize = 13;
    FontWeight weight = FontWeight::regular;
    bool operator==(const Font&) const = default;

    static Font system(double pointSize, FontWeight weight = FontWeight::regular) { return {pointSize, weight}; }
    static Font boldSystem(double pointSize) { return {pointSize, FontWeight::bold}; }
};

enum class TextAlignment { left, center, right };

struct TextStyle {
    Font font;
    Color foreground{0, 0, 0, 1};
    // Outline: a negative width strokes and fills, a positive one only
    // strokes; the width is a percentage of the point size.
    std::optional<Color> strokeColor;
    double strokeWidth = 0;
    TextAlignment alignment = TextAlignment::left;
    // Cut text that does not fit its box's width with an ellipsis.
    bool truncateTail = false;
    bool operator==(const TextStyle&) const = default;
};

// The size of one line of `text` set in `font` (its advance width and line
// height). Empty text measures zero wide and one line high.
Size measureText(std::string_view text, const Font& font);

}  // namespace platform
