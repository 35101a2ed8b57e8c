#include "Mossbridge/pets/BubbleText.h"

#include <algorithm>

#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

// A word with the spaces that follow it, or a line feed.
struct Atom {
    std::string text;
    platform::Font font;
    bool lineFeed = false;
};

std::vector<Atom> atomsOf(const AttributedText& text) {
    std::vector<Atom> atoms;
    for (const TextRun& run : text) {
        std::string word;
        auto flush = [&] {
            if (!word.empty()) atoms.push_back({std::move(word), run.font});
            word.clear();
        };
        for (std::size_t i = 0; i < run.text.size(); ++i) {
            const char c = run.text[i];
            if (c == '\n') {
                flush();
                atoms.push_back({"", run.font, true});
                continue;
            }
            if (c != ' ' && !word.empty() && word.back() == ' ') flush();
            word += c;
        }
        flush();
    }
    return atoms;
}

std::string withoutTrailingSpaces(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

double widthOf(const std::string& text, const platform::Font& font) {
    return text.empty() ? 0 : platform::measureText(text, font).width;
}

class LineBuilder {
public:
    explicit LineBuilder(double wrapWidth) : wrapWidth_(wrapWidth) {}

    void add(const Atom& atom) {
        if (atom.lineFeed) {
            finishLine();
            return;
        }
        const double wordWidth = widthOf(withoutTrailingSpaces(atom.text), atom.font);
        if (fits(line_.width + pendingSpace_ + wordWidth)) {
            append(atom);
            return;
        }
        if (!line_.pieces.empty()) finishLine();
        if (fits(wordWidth)) {
            append(atom);
            return;
        }
        breakWord(atom);
    }

    std::vector<TextLine> finish() {
        finishLine();
        return std::move(lines_);
    }

private:
    bool fits(double width) const { return !(wrapWidth_ > 0) || width <= wrapWidth_; }

    void append(const Atom& atom) {
        if (!line_.pieces.empty() && line_.pieces.back().font == atom.font)
            line_.pieces.back().text += atom.text;
        else
            line_.pieces.push_back({atom.text, atom.font});
        const std::string trimmed = withoutTrailingSpaces(atom.text);
        line_.width += pendingSpace_ + widthOf(trimmed, atom.font);
        pendingSpace_ = widthOf(atom.text, atom.font) - widthOf(trimmed, atom.font);
    }

    // Fills lines with as many characters of a too-wide word as fit, at
    // least one per line.
    void breakWord(const Atom& atom) {
        std::string part;
        for (const std::string& character : platform::composedCharacters(atom.text)) {
            if (!part.empty() && !fits(widthOf(withoutTrailingSpaces(part + character), atom.font))) {
                append({part, atom.font});
                finishLine();
                part.clear();
            }
            part += character;
        }
        if (!part.empty()) append({part, atom.font});
    }

    void finishLine() {
        lines_.push_back(std::move(line_));
        line_ = {};
        pendingSpace_ = 0;
    }

    double wrapWidth_;
    TextLine line_;
    double pendingSpace_ = 0;
    std::vector<TextLine> lines_;
};

}  // namespace

std::string plainText(const AttributedText& text) {
    std::string all;
    for (const TextRun& run : text) all += run.text;
    return all;
}

double singleLineWidth(const AttributedText& text) {
    double widest = 0;
    for (const TextLine& line : wrapText(text, 0)) widest = std::max(widest, line.width);
    return widest;
}

std::vector<TextLine> wrapText(const AttributedText& text, double wrapWidth) {
    LineBuilder builder(wrapWidth);
    for (const Atom& atom : atomsOf(text)) builder.add(atom);
    return builder.finish();
}

double fontLineHeight(const platform::Font& font) { return platform::measureText("", font).height; }

void drawTextLine(platform::Canvas& canvas, const TextLine& line, double left, double top, double right,
                  const platform::Color& color, bool truncate) {
    double x = left;
    for (const TextRun& piece : line.pieces) {
        if (x >= right) break;
        platform::TextStyle style;
        style.font = piece.font;
        style.foreground = color;
        style.truncateTail = truncate;
        const double height = fontLineHeight(piece.font);
        canvas.drawText(piece.text, style, {x, top - height, right - x, height});
        x += widthOf(piece.text, piece.font);
    }
}

}  // namespace Mossbridge
