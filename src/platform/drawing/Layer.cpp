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

void appendToKey(std::string& key, const Rect& r) {
    for (double v : {r.minX(), r.minY(), r.width(), r.height()}) platform::appendToKey(key, v);
}

void appendToKey(std::string& key, const Color& c) {
    for (double v : {c.red, c.green, c.blue, c.alpha}) platform::appendToKey(key, v);
}

void appendToKey(std::string& key, const std::optional<Color>& c) {
    platform::appendToKey(key, double(c.has_value()));
    if (c) appendToKey(key, *c);
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
    if (shouldRasterize) {
        rasterKey_.description.clear();
        rasterKey_.objects.clear();
        describe(rasterKey_);
        canvas.clipToRect(bounds());
        canvas.drawPicture(rasterKey_, bounds(), [this](Canvas& c) { drawSelfAndSublayers(c); });
    } else {
        drawSelfAndSublayers(canvas);
    }
    canvas.restore();
}

void Layer::drawSelfAndSublayers(Canvas& canvas) const {
    if (contents) {
        const bool magnified = contents->width() < frame.width() * contentsScale;
        const LayerFilter filter = magnified ? magnificationFilter : minificationFilter;
        canvas.drawBitmap(contents, contentsRect(bounds(), *contents, contentsGravity),
                          filter == LayerFilter::nearest ? Interpolation::none : Interpolation::linear);
    }
    drawContent(canvas);
    renderSublayers(canvas);
}

void Layer::describe(PictureKey& key) const {
    std::string& d = key.description;
    appendToKey(d, double(hidden));
    if (hidden) return;
    appendToKey(d, frame);
    for (double v : {opacity, zPosition, contentsScale, double(contentsGravity), double(magnificationFilter),
                     double(minificationFilter), double(contents != nullptr), double(sublayers_.size())})
        appendToKey(d, v);
    if (contents) key.objects.push_back(contents);
    describeContent(key);
    for (const auto& sublayer : sublayers_) sublayer->describe(key);
}

void Layer::describeContent(PictureKey&) const {}

void ShapeLayer::describeContent(PictureKey& key) const {
    std::string& d = key.description;
    appendToKey(d, fillColor);
    appendToKey(d, strokeColor);
    appendToKey(d, lineWidth);
    appendToKey(d, double(path.elements().size()));
    for (const auto& e : path.elements()) {
        for (double v : {double(e.kind), e.point.x, e.point.y, e.control.x, e.control.y, e.radiusX, e.radiusY})
            appendToKey(d, v);
        appendToKey(d, e.rect);
    }
}

void TextLayer::describeContent(PictureKey& key) const {
    std::string& d = key.description;
    appendToKey(d, string);
    for (double v : {font.pointSize, double(font.weight), double(alignment), double(truncateTail)}) appendToKey(d, v);
    appendToKey(d, foregroundColor);
}

void Layer::renderSublayers(Canvas& canvas) const {
    const auto byZ = [](const Layer* a, const Layer* b) { return a->zPosition < b->zPosition; };
    const bool inOrder = std::is_sorted(sublayers_.begin(), sublayers_.end(),
                                        [&byZ](const auto& a, const auto& b) { return byZ(a.get(), b.get()); });
    if (inOrder) {  // the usual case, drawn without sorting a copy
        for (const auto& sublayer : sublayers_) sublayer->render(canvas);
        return;
    }
    std::vector<const Layer*> ordered;
    ordered.reserve(sublayers_.size());
    for (const auto& sublayer : sublayers_) ordered.push_back(sublayer.get());
    std::stable_sort(ordered.begin(), ordered.end(), byZ);
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
    const Rect box = bounds();
    canvas.drawText(string, style, {box.minX(), box.minY(), box.width(), measureText(string, font).height});
}

}  // namespace platform
