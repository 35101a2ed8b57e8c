#include "Mossbridge/pets/WindowPreviewViews.h"

#include <algorithm>

#include "Mossbridge/pets/BubbleColors.h"

namespace Mossbridge {

namespace {

using platform::SystemColors::withAlpha;

constexpr double labelInset = 4;
constexpr double labelGap = 7;

void trackEverywhere(platform::View& view) {
    namespace options = platform::TrackingOptions;
    view.removeAllTrackingAreas();
    view.addTrackingArea({view.bounds(), options::mouseEnteredAndExited | options::mouseMoved | options::activeAlways | options::inVisibleRect});
}

// `image` scaled to fit `box` with its proportions kept, centred.
platform::Rect aspectFit(const platform::Image& image, const platform::Rect& box) {
    const platform::Size size = image.size();
    if (!(size.width > 0) || !(size.height > 0)) return box;
    const double scale = std::min(box.width() / size.width, box.height() / size.height);
    const double width = size.width * scale, height = size.height * scale;
    return {box.midX() - width / 2, box.midY() - height / 2, width, height};
}

}  // namespace

WindowPreviewItemView::WindowPreviewItemView(AppWindowPreviewInfo preview)
    // The system's medium weight is drawn in the regular face.
    : platform::View({0, 0, width, height}),
      preview_(std::move(preview)),
      label_(BubbleLabel::make(preview_.title, platform::Font::system(10.5), platform::SystemColors::label)) {
    label_->alignment = platform::TextAlignment::center;
    label_->truncatesTail = true;
    addSubview(label_);
    layout();
    applyHighlight();
    updateTrackingAreas();
}

platform::Rect WindowPreviewItemView::pictureFrame() const {
    const platform::Rect box = bounds();
    return {0, box.maxY() - pictureHeight, box.width(), pictureHeight};
}

void WindowPreviewItemView::layout() {
    const double labelHeight = label_->fittingSize().height;
    label_->setFrame({labelInset, pictureFrame().minY() - labelGap - labelHeight, bounds().width() - 2 * labelInset,
                      labelHeight});
}

void WindowPreviewItemView::setHighlighted(bool highlighted) {
    if (highlighted == isHighlighted_) return;
    isHighlighted_ = highlighted;
    applyHighlight();
}

void WindowPreviewItemView::applyHighlight() {
    label_->textColor = isHighlighted_ ? BubbleColors::accent : platform::SystemColors::label;
    label_->setNeedsDisplay(true);
    setNeedsDisplay(true);
}

void WindowPreviewItemView::draw(platform::Canvas& canvas, const platform::Rect&) {
    canvas.save();
    const platform::Path tile = platform::Path::roundedRect(bounds(), 6, 6);
    if (isHighlighted_) {
        canvas.setFillColor(withAlpha(BubbleColors::accent, 0.14));
        canvas.fillPath(tile);
        canvas.setStrokeColor(withAlpha(BubbleColors::accent, 0.55));
        canvas.setLineWidth(1);
        canvas.strokePath(tile);
    }
    const platform::Rect picture = pictureFrame();
    const platform::Path pictureShape = platform::Path::roundedRect(picture, 5, 5);
    canvas.setFillColor(BubbleColors::controlBackground);
    canvas.fillPath(pictureShape);
    if (preview_.image && preview_.image->bitmap()) {
        canvas.save();
        canvas.clipToRect(picture);
        canvas.drawBitmap(preview_.image->bitmap(), aspectFit(*preview_.image, picture));
        canvas.restore();
    }
    if (isHighlighted_) {
        canvas.setStrokeColor(withAlpha(BubbleColors::accent, 0.45));
        canvas.setLineWidth(1);
        canvas.strokePath(pictureShape);
    }
    canvas.restore();
}

void WindowPreviewItemView::updateTrackingAreas() { trackEverywhere(*this); }
void WindowPreviewItemView::mouseEntered(const platform::PointerEvent&) { setHighlighted(true); }
void WindowPreviewItemView::mouseMoved(const platform::PointerEvent&) { setHighlighted(true); }
void WindowPreviewItemView::mouseExited(const platform::PointerEvent&) { setHighlighted(false); }

void WindowPreviewItemView::mouseDown(const platform::PointerEvent&) {
    if (onClick) onClick(preview_.index);
}

WindowPreviewPanelView::WindowPreviewPanelView() : platform::View({}) { updateTrackingAreas(); }

void WindowPreviewPanelView::setPreviews(std::vector<AppWindowPreviewInfo> previews) {
    previews_ = std::move(previews);
    for (const auto& tile : tiles_) tile->removeFromSuperview();
    tiles_.clear();
    std::weak_ptr<WindowPreviewPanelView> weak =
        std::static_pointer_cast<WindowPreviewPanelView>(shared_from_this());
    for (const AppWindowPreviewInfo& preview : previews_) {
        auto tile = std::make_shared<WindowPreviewItemView>(preview);
        tile->onClick = [weak](int index) {
            auto view = weak.lock();
            if (view && view->onWindowSelected) view->onWindowSelected(index);
        };
        addSubview(tile);
        tiles_.push_back(std::move(tile));
    }
    layout();
    setNeedsDisplay(true);
}

void WindowPreviewPanelView::layout() {
    double left = inset;
    const double top = bounds().maxY() - inset;
    for (const auto& tile : tiles_) {
        tile->setFrame({left, top - WindowPreviewItemView::height, WindowPreviewItemView::width,
                        WindowPreviewItemView::height});
        left += WindowPreviewItemView::width + spacing;
    }
    updateTrackingAreas();
}

void WindowPreviewPanelView::draw(platform::Canvas& canvas, const platform::Rect&) {
    const platform::Rect box = bounds();
    const platform::Path background =
        platform::Path::roundedRect({box.minX() + 1, box.minY() + 1, box.width() - 2, box.height() - 2}, 8, 8);
    canvas.save();
    canvas.setFillColor(
        withAlpha(BubbleColors::blended(platform::SystemColors::windowBackground, 0.06, BubbleColors::mint), 0.97));
    canvas.fillPath(background);
    canvas.setStrokeColor(withAlpha(BubbleColors::separator, 0.42));
    canvas.setLineWidth(1);
    canvas.strokePath(background);
    canvas.restore();
}

void WindowPreviewPanelView::updateTrackingAreas() { trackEverywhere(*this); }

void WindowPreviewPanelView::mouseEntered(const platform::PointerEvent&) {
    if (onHoverChanged) onHoverChanged(true);
}

void WindowPreviewPanelView::mouseMoved(const platform::PointerEvent&) {
    if (onHoverChanged) onHoverChanged(true);
}

void WindowPreviewPanelView::mouseExited(const platform::PointerEvent&) {
    if (onHoverChanged) onHoverChanged(false);
    for (const auto& tile : tiles_)
        if (tile->isHighlighted()) tile->setHighlighted(false);
}

}  // namespace Mossbridge
