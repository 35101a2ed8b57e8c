#include "Mossbridge/pets/ClosureButton.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Mossbridge/pets/BubbleColors.h"
#include "platform/drawing/SymbolImages.h"

namespace Mossbridge {

namespace {

constexpr double titlePointSize = 13;
constexpr double symbolPointSize = 16;

// The template's shape in `tint` (premultiplied words).
platform::BitmapRef tinted(const platform::Bitmap& shape, const platform::Color& tint) {
    std::vector<std::uint32_t> pixels(std::size_t(shape.width()) * std::size_t(shape.height()));
    auto channel = [](double value) { return std::uint32_t(std::lround(std::clamp(value, 0.0, 1.0) * 255)); };
    for (int y = 0; y < shape.height(); ++y)
        for (int x = 0; x < shape.width(); ++x) {
            const double alpha = double(shape.pixel(x, y) >> 24) / 255 * tint.alpha;
            pixels[std::size_t(y) * std::size_t(shape.width()) + std::size_t(x)] =
                channel(alpha) << 24 | channel(tint.red * alpha) << 16 | channel(tint.green * alpha) << 8 |
                channel(tint.blue * alpha);
        }
    return platform::Bitmap::make(shape.width(), shape.height(), std::move(pixels));
}

}  // namespace

ClosureButton::ClosureButton(const platform::Rect& frame) : platform::View(frame) {}

void ClosureButton::setSymbol(const std::string& name, std::string accessibilityDescription) {
    symbolName_ = name;
    accessibilityDescription_ = std::move(accessibilityDescription);
    image_ = platform::symbolImage(name, symbolPointSize);
    setNeedsDisplay(true);
}

platform::Size ClosureButton::fittingSize() const {
    if (!title.empty()) {
        const platform::Size text = platform::measureText(title, platform::Font::system(titlePointSize));
        return {std::ceil(text.width) + 24, std::ceil(text.height) + 8};
    }
    return {symbolPointSize + 4, symbolPointSize + 4};
}

void ClosureButton::performClick() {
    if (onClick) onClick();
}

void ClosureButton::drawSymbol(platform::Canvas& canvas, const platform::Rect& box) const {
    if (!image_ || !image_->bitmap()) return;
    const double side = std::min({box.width(), box.height(), symbolPointSize});
    canvas.drawBitmap(tinted(*image_->bitmap(), contentTint),
                      {box.midX() - side / 2, box.midY() - side / 2, side, side});
}

void ClosureButton::draw(platform::Canvas& canvas, const platform::Rect&) {
    const platform::Rect box = bounds();
    canvas.save();
    if (isBordered) {
        const double inset = bezelStyle == BezelStyle::circular ? 1 : 0.5;
        const platform::Rect face{box.minX() + inset, box.minY() + inset, box.width() - 2 * inset,
                                  box.height() - 2 * inset};
        const platform::Path path = bezelStyle == BezelStyle::circular ? platform::Path::ellipse(face)
                                                                       : platform::Path::roundedRect(face, 6, 6);
        canvas.setFillColor(pressed_ ? BubbleColors::blended(BubbleColors::controlBackground, 0.12,
                                                             platform::SystemColors::black)
                                     : BubbleColors::controlBackground);
        canvas.fillPath(path);
        canvas.setStrokeColor(platform::SystemColors::withAlpha(platform::SystemColors::black, 0.18));
        canvas.setLineWidth(1);
        canvas.strokePath(path);
    }
    if (!title.empty()) {
        platform::TextStyle style;
        style.font = platform::Font::system(titlePointSize);
        style.foreground = platform::SystemColors::label;
        style.alignment = platform::TextAlignment::center;
        style.truncateTail = true;
        const double height = platform::measureText(title, style.font).height;
        canvas.drawText(title, style, {box.minX(), box.midY() - height / 2, box.width(), height});
    } else {
        drawSymbol(canvas, box);
    }
    canvas.restore();
}

void ClosureButton::mouseDown(const platform::PointerEvent&) {
    pressed_ = true;
    setNeedsDisplay(true);
}

void ClosureButton::mouseUp(const platform::PointerEvent& event) {
    const bool wasPressed = pressed_;
    pressed_ = false;
    setNeedsDisplay(true);
    const platform::Point local = convertFromWindow(event.locationInWindow);
    const platform::Rect box = bounds();
    const bool inside = local.x >= box.minX() && local.x < box.maxX() && local.y >= box.minY() && local.y < box.maxY();
    if (wasPressed && inside) performClick();
}

}  // namespace Mossbridge
