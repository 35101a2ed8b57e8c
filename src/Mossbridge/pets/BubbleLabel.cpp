#include "Mossbridge/pets/BubbleLabel.h"

#include <algorithm>
#include <cmath>

namespace Mossbridge {

BubbleLabel::BubbleLabel(std::string text, platform::Font font, platform::Color color)
    : platform::View({}), textColor(color), font_(font) {
    setText(std::move(text));
}

void BubbleLabel::setText(std::string text) {
    AttributedText runs;
    if (!text.empty()) runs.push_back({std::move(text), font_});
    setAttributedText(std::move(runs));
}

void BubbleLabel::setAttributedText(AttributedText text) {
    text_ = std::move(text);
    setNeedsDisplay(true);
}

double BubbleLabel::lineHeight() const {
    double height = fontLineHeight(font_);
    for (const TextRun& run : text_) height = std::max(height, fontLineHeight(run.font));
    return height;
}

std::vector<TextLine> BubbleLabel::linesAt(double width) const {
    auto lines = wrapText(text_, wraps ? width : 0);
    if (maximumNumberOfLines > 0 && lines.size() > std::size_t(maximumNumberOfLines))
        lines.resize(std::size_t(maximumNumberOfLines));
    return lines;
}

double BubbleLabel::heightOf(std::size_t lineCount) const {
    const std::size_t n = std::max<std::size_t>(lineCount, 1);
    return double(n) * lineHeight() + double(n - 1) * lineSpacing;
}

platform::Size BubbleLabel::fittingSize() const {
    const auto lines = linesAt(preferredMaxLayoutWidth);
    double width = 0;
    for (const TextLine& line : lines) width = std::max(width, line.width);
    return {std::ceil(width), std::ceil(heightOf(lines.size()))};
}

std::vector<TextLine> BubbleLabel::visibleLines() const {
    double width = bounds().width();
    if (preferredMaxLayoutWidth > 0) width = std::min(width, preferredMaxLayoutWidth);
    return linesAt(width);
}

void BubbleLabel::draw(platform::Canvas& canvas, const platform::Rect&) {
    const platform::Rect box = bounds();
    double top = box.maxY();
    for (const TextLine& line : visibleLines()) {
        double left = 0;
        if (line.width < box.width()) {
            if (alignment == platform::TextAlignment::center) left = (box.width() - line.width) / 2;
            if (alignment == platform::TextAlignment::right) left = box.width() - line.width;
        }
        drawTextLine(canvas, line, left, top, box.width(), textColor, truncatesTail);
        top -= lineHeight() + lineSpacing;
    }
}

}  // namespace Mossbridge
