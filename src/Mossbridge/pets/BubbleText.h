#pragma once
// Text as the bubbles set it: runs of UTF-8 text, each in one font, broken
// into lines at line feeds and, where a line would grow wider than the
// wrap width, after the last space (a single word wider than the width is
// broken between characters). Widths come from platform::measureText.

#include <string>
#include <vector>

#include "platform/drawing/Canvas.h"
#include "platform/drawing/TextLayout.h"

namespace Mossbridge {

struct TextRun {
    std::string text;
    platform::Font font;
    bool operator==(const TextRun&) const = default;
};
using AttributedText = std::vector<TextRun>;

struct TextLine {
    AttributedText pieces;
    double width = 0;  // without trailing spaces
};

// The whole text as one string.
std::string plainText(const AttributedText& text);
// Width of the widest paragraph set on one line (no wrapping).
double singleLineWidth(const AttributedText& text);
// Lines at `wrapWidth` (no limit when it is not positive). Empty text is one
// empty line.
std::vector<TextLine> wrapText(const AttributedText& text, double wrapWidth);
// Height of one line of `font`.
double fontLineHeight(const platform::Font& font);

// Draws `line` with its top at `top` (unflipped), starting at `left`; the
// last piece is cut with an ellipsis at `right` when `truncate` is set.
void drawTextLine(platform::Canvas& canvas, const TextLine& line, double left, double top, double right,
                  const platform::Color& color, bool truncate);

}  // namespace Mossbridge
