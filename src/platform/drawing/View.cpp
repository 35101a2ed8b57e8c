#include "platform/drawing/View.h"

#include <algorithm>

#include "platform/drawing/Panel.h"

namespace platform {

View::View(const Rect& frame) : frame_(frame), layer_(Layer::make()) { layer_->frame = bounds(); }

View::~View() {
    for (auto& subview : subviews_) subview->superview_ = nullptr;
}

void View::setFrame(const Rect& frame) {
    const bool resized = frame.size != frame_.size;
    frame_ = frame;
    layer_->frame = bounds();
    if (resized) {
        needsDisplay_ = true;
        layout();
    }
}

void View::addSubview(const std::shared_ptr<View>& view) {
    if (!view || view.get() == this) return;
    view->removeFromSuperview();
    view->superview_ = this;
    subviews_.push_back(view);
    view->setWindow(window_);
}

void View::removeFromSuperview() {
    View* parent = superview_;
    if (!parent) return;
    auto keepAlive = shared_from_this();
    superview_ = nullptr;
    auto& siblings = parent->subviews_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [this](const auto& v) { return v.get() == this; }),
                   siblings.end());
    setWindow(nullptr);
}

void View::setWindow(Panel* window) {
    if (window_ == window) return;
    window_ = window;
    for (auto& subview : subviews_) subview->setWindow(window);
    viewDidMoveToWindow();
}

Point View::convertFromWindow(Point point) const {
    for (const View* view = this; view; view = view->superview_) {
        point.x -= view->frame_.origin.x;
        point.y -= view->frame_.origin.y;
    }
    return point;
}

View* View::hitTest(Point point) {
    if (hidden_) return nullptr;
    const Point local{point.x - frame_.origin.x, point.y - frame_.origin.y};
    const Rect b = bounds();
    if (local.x < b.minX() || local.y < b.minY() || local.x >= b.maxX() || local.y >= b.maxY()) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it)
        if (View* hit = (*it)->hitTest(local)) return hit;
    return this;
}

void View::render(Canvas& canvas) {
    needsDisplay_ = false;
    if (hidden_) return;
    canvas.save();
    canvas.translate(frame_.origin.x, frame_.origin.y);
    canvas.clipToRect(bounds());
    draw(canvas, bounds());
    layer_->renderSublayers(canvas);
    for (auto& subview : subviews_) subview->render(canvas);
    canvas.restore();
}

void View::draw(Canvas&, const Rect&) {}
void View::layout() {}
void View::viewDidMoveToWindow() {}
void View::updateTrackingAreas() {}
void View::mouseDown(const PointerEvent&) {}
void View::mouseDragged(const PointerEvent&) {}
void View::mouseUp(const PointerEvent&) {}
void View::rightMouseDown(const PointerEvent&) {}
void View::mouseMoved(const PointerEvent&) {}
void View::mouseEntered(const PointerEvent&) {}
void View::mouseExited(const PointerEvent&) {}

}  // namespace platform
