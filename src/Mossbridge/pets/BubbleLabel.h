#pragma once
// A text label of the bubbles: one line (cut with an ellipsis when
// `truncatesTail`) or wrapping at its width, or at `preferredMaxLayoutWidth`
// when that is narrower, with at most `maximumNumberOfLines` lines (0: no
// limit); lines beyond the limit are not shown. Text is set from the top.

#include <memory>
#include <string>

#include "Mossbridge/pets/BubbleText.h"
#include "platform/drawing/View.h"

namespace Mossbridge {

class BubbleLabel final : public platform::View {
public:
    BubbleLabel(std::string text, platform::Font font, platform::Color color);
    static std::shared_ptr<BubbleLabel> make(std::string text, platform::Font font, platform::Color color) {
        return std::make_shared<BubbleLabel>(std::move(text), font, color);
    }

    // The font of empty text and of `setText`.
    const platform::Font& font() const { return font_; }
    const AttributedText& attributedText() const { return text_; }
    std::string text() const { return plainText(text_); }
    void setText(std::string text);
    void setAttributedText(AttributedText text);

    platform::Color textColor;
    platform::TextAlignment alignment = platform::TextAlignment::left;
    bool wraps = false;
    bool truncatesTail = false;
    int maximumNumberOfLines = 1;
    double lineSpacing = 0;
    double preferredMaxLayoutWidth = 0;  // 0: the label's own width
    std::string toolTip;

    // The taller of the fonts' line heights.
    double lineHeight() const;
    // One line of natural width, or the wrapped text at
    // `preferredMaxLayoutWidth`; never less than one line high.
    platform::Size fittingSize() const;
    // The lines shown at the label's current width (after the line limit).
    std::vector<TextLine> visibleLines() const;

    void draw(platform::Canvas& canvas, const platform::Rect& dirtyRect) override;

private:
    std::vector<TextLine> linesAt(double width) const;
    double heightOf(std::size_t lineCount) const;

    platform::Font font_;
    AttributedText text_;
};

}  // namespace Mossbridge
