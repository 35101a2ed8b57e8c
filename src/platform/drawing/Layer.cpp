#include "platform/drawing/Layer.h"

#include <algorithm>

namespace platform {

namespace {

// Where a bitmap of the given pixel size lands in `bounds`.
Rect contentsRect(const Rect& bounds, const Bitmap& bitmap, ContentsGravity gravity) {
    if (gravity == ContentsGravity::resize || bitmap.width() == 0 || bitmap.height() == 0) return bounds;
    const double scale = std::min(bounds.width() / bitmap.width(), bounds.height() / bitmap.height());
    const double width = bitmap.width() * scale, height = bitmap.height() * scale;
    return {bounds.midX() - width / 2, bounds.midY() - height / 2, width, height};
}

}  // namespace

Layer::~Layer() {
    for (auto& sublayer : sublayers_) sublayer->superlayer_ = nullptr;
}

void Layer::addSublayer(const std::shared_ptr<Layer>& layer) {
    if (!layer || layer.get() == this) return;
    layer->removeFromSuperlayer();
    layer->superlayer_ = this;
    sublayers_.push_back(layer);
}

void Layer::removeFromSuperlayer() {
    Layer* parent = superlayer_;
    if (!parent) return;
    superlayer_ = nullptr;
    auto& siblings = parent->sublayers_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [this](const auto& l) { return l.get() == this; }),
                   siblings.end());
}

void Layer::render(Canvas& canvas) const {
    if (hidden || !(opacity > 0)) return;
    canvas.save();
    canvas.translate(frame.minX(), frame.minY());
    if (opacity < 1) canvas.setAlpha(opacity);
    if (contents) {
        const bool magnified = contents->width() < frame.width() * contentsScale;
        const LayerFilter filter = magnified ? magnificationFilter : minificationFilter;
        canvas.drawBitmap(contents, contentsRect(bounds(), *contents, contentsGravity),
                          filter == LayerFilter::nearest ? Interpolation::none : Interpolation::linear);
    }
    drawContent(canvas);
    renderSublayers(canvas);
    canvas.restore();
}

void Layer::renderSublayers(Canvas& canvas) const {
    std::vector<const Layer*> ordered;
    ordered.reserve(sublayers_.size());
    for (const auto& sublayer : sublayers_) ordered.push_back(sublayer.get());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Layer* a, const Layer* b) { return a->zPosition < b->zPosition; });
    for (const Layer* sublayer : ordered) sublayer->render(canvas);
}

void Layer::drawContent(Canvas&) const {}

void ShapeLayer::drawContent(Canvas& canvas) const {
    if (path.isEmpty()) return;
    if (fillColor) {
        canvas.setFillColor(*fillColor);
        canvas.fillPath(path);
    }
    if (strokeColor && lineWidth > 0) {
        canvas.setStrokeColor(*strokeColor);
        canvas.setLineWidth(lineWidth);
        canvas.strokePath(path);
    }
}

void TextLayer::drawContent(Canvas& canvas) const {
    if (string.empty()) return;
    TextStyle style;
    style.font = font;
    style.foreground = foregroundColor;
    style.alignment = alignment;
    style.truncateTail = truncateTail;
    canvas.drawText(string, style, bounds());
}

}  // namespace platform
