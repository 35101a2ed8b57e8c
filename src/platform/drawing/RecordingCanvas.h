#pragma once
// A Canvas that draws nothing and keeps, in order, every fill, stroke,
// bitmap and text with the state it was drawn in; positions are those of
// the canvas's base coordinates (translations applied). Pictures are drawn
// directly, so their contents are recorded like everything else, and the
// picture itself (key, extent and the commands it drew) is noted too. For
// tests.

#include <string>
#include <vector>

#include "platform/drawing/Canvas.h"

namespace platform {

struct CanvasCommand {
    enum class Kind { fill, stroke, bitmap, text };
    Kind kind = Kind::fill;
    Path path;  // fill and stroke, already translated
    Color color;  // fill or stroke colour, text foreground; alpha includes the state's
    double lineWidth = 1;
    BlendMode blendMode = BlendMode::normal;
    FillRule fillRule = FillRule::nonZero;
    BitmapRef bitmap;
    Rect rect;  // bitmap destination or text box, translated
    std::string text;
    TextStyle textStyle;
};

struct RecordedPicture {
    PictureKey key;
    Rect extent;  // translated
    std::size_t firstCommand = 0;  // the commands drawn by the picture: [firstCommand, endCommand)
    std::size_t endCommand = 0;
};

class RecordingCanvas final : public Canvas {
public:
    const std::vector<CanvasCommand>& commands() const { return commands_; }
    const std::vector<RecordedPicture>& pictures() const { return pictures_; }
    // Depth of the state stack: 0 when every save was restored.
    std::size_t saveDepth() const { return states_.size() - 1; }

    void save() override { states_.push_back(states_.back()); }
    void restore() override {
        if (states_.size() > 1) states_.pop_back();
    }
    void setFillColor(const Color& color) override { states_.back().fill = color; }
    void setStrokeColor(const Color& color) override { states_.back().stroke = color; }
    void setLineWidth(double width) override { states_.back().lineWidth = width; }
    void setBlendMode(BlendMode mode) override { states_.back().blendMode = mode; }
    void setAlpha(double alpha) override { states_.back().alpha = alpha; }
    void translate(double dx, double dy) override {
        states_.back().offset.x += dx;
        states_.back().offset.y += dy;
    }
    void clipToRect(const Rect&) override {}
    void fillPath(const Path& path, FillRule rule = FillRule::nonZero) override;
    void strokePath(const Path& path) override;
    void drawBitmap(const BitmapRef& bitmap, const Rect& destination,
                    Interpolation interpolation = Interpolation::linear) override;
    void drawText(std::string_view text, const TextStyle& style, const Rect& box) override;
    void drawPicture(const PictureKey& key, const Rect& extent, const std::function<void(Canvas&)>& draw) override;

private:
    struct State {
        Color fill{0, 0, 0, 1};
        Color stroke{0, 0, 0, 1};
        double lineWidth = 1;
        BlendMode blendMode = BlendMode::normal;
        double alpha = 1;
        Point offset;
    };
    CanvasCommand command(CanvasCommand::Kind kind) const;
    Path translated(const Path& path) const;
    Rect translated(const Rect& rect) const;

    std::vector<State> states_{State{}};
    std::vector<CanvasCommand> commands_;
    std::vector<RecordedPicture> pictures_;
};

}  // namespace platform
