#include "platform/drawing/Panel.h"

#include <algorithm>
#include <functional>

#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/WindowServer.h"

namespace platform {

std::shared_ptr<Panel> Panel::make(WindowServer& server, const Rect& frame) {
    std::shared_ptr<Panel> panel(new Panel(server, frame));
    server.addPanel(panel);
    return panel;
}

Panel::Panel(WindowServer& server, const Rect& frame) : server_(&server), frame_(frame) {}

Panel::~Panel() {
    if (contentView_) contentView_->setWindow(nullptr);
}

void Panel::setFrame(const Rect& frame, bool display) {
    frame_ = constrained(frame);
    if (contentView_) {
        contentView_->setFrame({0, 0, frame_.width(), frame_.height()});
        if (display) contentView_->setNeedsDisplay(true);
    }
    if (onFrameChange) onFrameChange();
}

void Panel::setKeepsTopOnScreen(bool keeps) {
    keepsTopOnScreen_ = keeps;
    if (constrained(frame_) != frame_) setFrame(frame_, true);
}

Rect Panel::constrained(const Rect& frame) const {
    if (!keepsTopOnScreen_) return frame;
    const auto screen = server_->screenContaining(frame);
    if (!screen || frame.maxY() <= screen->visibleFrame.maxY()) return frame;
    return Rect(frame.minX(), screen->visibleFrame.maxY() - frame.height(), frame.width(), frame.height());
}

void Panel::setContentView(std::shared_ptr<View> view) {
    if (contentView_) contentView_->setWindow(nullptr);
    contentView_ = std::move(view);
    if (!contentView_) return;
    contentView_->removeFromSuperview();
    contentView_->setFrame({0, 0, frame_.width(), frame_.height()});
    contentView_->setWindow(this);
}

void Panel::orderFront() {
    visible_ = true;
    server_->bringToFront(*this);
}

void Panel::orderOut() { visible_ = false; }

double Panel::backingScaleFactor() const {
    if (auto screen = server_->screenContaining(frame_)) return screen->backingScaleFactor;
    if (auto screen = server_->mainScreen()) return screen->backingScaleFactor;
    return 1;
}

BitmapRef Panel::render() const {
    const double scale = backingScaleFactor();
    if (!backing_ || backingSize_ != frame_.size || backingScale_ != scale) {
        backing_ = std::make_unique<CairoCanvas>(frame_.size, scale);
        backingSize_ = frame_.size;
        backingScale_ = scale;
    }
    renderContent(*backing_);
    return backing_->share();
}

void Panel::renderContent(Canvas& canvas) const {
    if (contentView_) contentView_->render(canvas);
}

void Panel::sendEvent(const PointerEvent& event) {
    if (!contentView_) return;
    switch (event.type) {
    case PointerEventType::leftDown: {
        View* hit = contentView_->hitTest(event.locationInWindow);
        pressedView_ = hit ? hit->weak_from_this() : std::weak_ptr<View>();
        if (hit) hit->mouseDown(event);
        break;
    }
    case PointerEventType::leftDragged:
        if (auto view = pressedView_.lock()) view->mouseDragged(event);
        break;
    case PointerEventType::leftUp:
        if (auto view = pressedView_.lock()) view->mouseUp(event);
        pressedView_.reset();
        break;
    case PointerEventType::rightDown:
        if (View* hit = contentView_->hitTest(event.locationInWindow)) hit->rightMouseDown(event);
        break;
    case PointerEventType::moved:
    case PointerEventType::entered:
    case PointerEventType::exited: trackPointer(event); break;
    }
}

void Panel::trackPointer(const PointerEvent& event) {
    std::vector<std::shared_ptr<View>> tracked;
    std::function<void(const std::shared_ptr<View>&)> collect = [&](const std::shared_ptr<View>& view) {
        if (view->isHidden()) return;
        if (!view->trackingAreas().empty()) tracked.push_back(view);
        for (const auto& subview : view->subviews()) collect(subview);
    };
    collect(contentView_);

    auto wasInside = [this](const View* view) {
        return std::any_of(viewsUnderPointer_.begin(), viewsUnderPointer_.end(),
                           [view](const auto& weak) { return weak.lock().get() == view; });
    };
    std::vector<std::weak_ptr<View>> inside;
    for (const auto& view : tracked) {
        const Point local = view->convertFromWindow(event.locationInWindow);
        unsigned options = 0;
        for (const auto& area : view->trackingAreas()) {
            const Rect rect = (area.options & TrackingOptions::inVisibleRect) ? view->bounds() : area.rect;
            if (local.x >= rect.minX() && local.x < rect.maxX() && local.y >= rect.minY() && local.y < rect.maxY())
                options |= area.options;
        }
        const bool nowInside = options != 0;
        const bool before = wasInside(view.get());
        PointerEvent forwarded = event;
        if (nowInside) inside.push_back(view);
        if (nowInside && !before && (options & TrackingOptions::mouseEnteredAndExited)) {
            forwarded.type = PointerEventType::entered;
            view->mouseEntered(forwarded);
        }
        if (!nowInside && before) {
            forwarded.type = PointerEventType::exited;
            view->mouseExited(forwarded);
        }
        if (nowInside && (options & TrackingOptions::mouseMoved)) {
            forwarded.type = PointerEventType::moved;
            view->mouseMoved(forwarded);
        }
    }
    viewsUnderPointer_ = std::move(inside);
}

}  // namespace platform
