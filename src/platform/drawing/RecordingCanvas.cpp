#include "platform/drawing/RecordingCanvas.h"

namespace platform {

CanvasCommand RecordingCanvas::command(CanvasCommand::Kind kind) const {
    CanvasCommand recorded;
    recorded.kind = kind;
    recorded.lineWidth = states_.back().lineWidth;
    recorded.blendMode = states_.back().blendMode;
    return recorded;
}

Rect RecordingCanvas::translated(const Rect& rect) const {
    const Point offset = states_.back().offset;
    return {rect.origin.x + offset.x, rect.origin.y + offset.y, rect.size.width, rect.size.height};
}

Path RecordingCanvas::translated(const Path& path) const {
    const Point offset = states_.back().offset;
    auto move = [offset](Point p) { return Point{p.x + offset.x, p.y + offset.y}; };
    Path result;
    for (const auto& e : path.elements()) {
        switch (e.kind) {
        case Path::ElementKind::moveTo: result.moveTo(move(e.point)); break;
        case Path::ElementKind::lineTo: result.lineTo(move(e.point)); break;
        case Path::ElementKind::quadCurveTo: result.quadCurveTo(move(e.point), move(e.control)); break;
        case Path::ElementKind::closeSubpath: result.closeSubpath(); break;
        case Path::ElementKind::rect: result.addRect(translated(e.rect)); break;
        case Path::ElementKind::ellipse: result.addEllipse(translated(e.rect)); break;
        case Path::ElementKind::roundedRect: result.addRoundedRect(translated(e.rect), e.radiusX, e.radiusY); break;
        }
    }
    return result;
}

void RecordingCanvas::fillPath(const Path& path, FillRule rule) {
    CanvasCommand recorded = command(CanvasCommand::Kind::fill);
    recorded.path = translated(path);
    recorded.color = states_.back().fill;
    recorded.color.alpha *= states_.back().alpha;
    recorded.fillRule = rule;
    commands_.push_back(std::move(recorded));
}

void RecordingCanvas::strokePath(const Path& path) {
    CanvasCommand recorded = command(CanvasCommand::Kind::stroke);
    recorded.path = translated(path);
    recorded.color = states_.back().stroke;
    recorded.color.alpha *= states_.back().alpha;
    commands_.push_back(std::move(recorded));
}

void RecordingCanvas::drawBitmap(const BitmapRef& bitmap, const Rect& destination, Interpolation) {
    CanvasCommand recorded = command(CanvasCommand::Kind::bitmap);
    recorded.bitmap = bitmap;
    recorded.rect = translated(destination);
    commands_.push_back(std::move(recorded));
}

void RecordingCanvas::drawText(std::string_view text, const TextStyle& style, const Rect& box) {
    CanvasCommand recorded = command(CanvasCommand::Kind::text);
    recorded.text = std::string(text);
    recorded.textStyle = style;
    recorded.color = style.foreground;
    recorded.color.alpha *= states_.back().alpha;
    recorded.rect = translated(box);
    commands_.push_back(std::move(recorded));
}

void RecordingCanvas::drawPicture(const PictureKey& key, const Rect& extent,
                                  const std::function<void(Canvas&)>& draw) {
    const std::size_t index = pictures_.size();
    pictures_.push_back({key, translated(extent), commands_.size(), 0});
    draw(*this);
    pictures_[index].endCommand = commands_.size();
}

}  // namespace platform
