#pragma once
// A rectangle of a panel's content that draws itself and receives pointer
// events. Every view is backed by a root layer; rendering draws the view's
// own draw() pass, then the root layer's sublayers, then the subviews, all
// clipped to the bounds. Coordinates are unflipped (origin bottom-left).
// Views are shared objects (use std::make_shared), main thread only.

#include <memory>
#include <vector>

#include "platform/drawing/Canvas.h"
#include "platform/drawing/Layer.h"
#include "platform/drawing/PointerEvent.h"

namespace platform {

class Panel;

// Options of a tracking area, with the platform's raw values.
namespace TrackingOptions {
inline constexpr unsigned mouseEnteredAndExited = 0x01;
inline constexpr unsigned mouseMoved = 0x02;
inline constexpr unsigned activeAlways = 0x80;
inline constexpr unsigned inVisibleRect = 0x200;
}  // namespace TrackingOptions

struct TrackingArea {
    Rect rect;  // in the view's coordinates
    unsigned options = 0;
    bool operator==(const TrackingArea&) const = default;
};

class View : public std::enable_shared_from_this<View> {
public:
    explicit View(const Rect& frame);
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    Rect frame() const { return frame_; }
    // A change of size lays the view out again.
    void setFrame(const Rect& frame);
    Rect bounds() const { return {0, 0, frame_.width(), frame_.height()}; }
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }
    bool needsDisplay() const { return needsDisplay_; }
    void setNeedsDisplay(bool needsDisplay) { needsDisplay_ = needsDisplay; }

    // The backing layer; add sublayers to it to show them above draw().
    Layer& layer() { return *layer_; }
    const Layer& layer() const { return *layer_; }

    void addSubview(const std::shared_ptr<View>& view);
    void removeFromSuperview();
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    View* superview() const { return superview_; }
    Panel* window() const { return window_; }

    // A point in the window's coordinates, in this view's.
    Point convertFromWindow(Point point) const;
    // The deepest visible view under `point` (in the superview's
    // coordinates), or null.
    View* hitTest(Point point);

    // Draws the view tree into `canvas`, whose coordinates are the
    // superview's; clears needsDisplay.
    void render(Canvas& canvas);

    const std::vector<TrackingArea>& trackingAreas() const { return trackingAreas_; }
    void addTrackingArea(const TrackingArea& area) { trackingAreas_.push_back(area); }
    void removeAllTrackingAreas() { trackingAreas_.clear(); }

    virtual void draw(Canvas& canvas, const Rect& dirtyRect);
    virtual void layout();
    virtual void viewDidMoveToWindow();
    virtual void updateTrackingAreas();

    virtual void mouseDown(const PointerEvent& event);
    virtual void mouseDragged(const PointerEvent& event);
    virtual void mouseUp(const PointerEvent& event);
    virtual void rightMouseDown(const PointerEvent& event);
    virtual void mouseMoved(const PointerEvent& event);
    virtual void mouseEntered(const PointerEvent& event);
    virtual void mouseExited(const PointerEvent& event);

private:
    friend class Panel;
    void setWindow(Panel* window);

    Rect frame_;
    bool hidden_ = false;
    bool needsDisplay_ = true;
    std::shared_ptr<Layer> layer_;
    std::vector<std::shared_ptr<View>> subviews_;
    View* superview_ = nullptr;
    Panel* window_ = nullptr;
    std::vector<TrackingArea> trackingAreas_;
};

}  // namespace platform
