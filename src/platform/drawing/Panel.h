#pragma once
// A window on the in-memory desktop: a frame in screen coordinates
// (points, bottom-left origin), a content view that fills it, a level and
// an alpha, visible or not. Panels are created through make() and belong
// to whoever holds them; the window server only keeps track of them and
// must outlive them. Main thread only.

#include <functional>
#include <memory>

#include "platform/drawing/Bitmap.h"
#include "platform/drawing/View.h"

namespace platform {

class CairoCanvas;
class WindowServer;

class Panel : public std::enable_shared_from_this<Panel> {
public:
    static std::shared_ptr<Panel> make(WindowServer& server, const Rect& frame);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    WindowServer& server() const { return *server_; }

    Rect frame() const { return frame_; }
    // Moves or resizes the panel; the content view follows. `display` asks
    // for the content to be redrawn at once (it is marked for display).
    // A panel that keeps its top on screen is first moved down as far as
    // needed.
    void setFrame(const Rect& frame, bool display);
    // Called after every frame change.
    std::function<void()> onFrameChange;

    const std::shared_ptr<View>& contentView() const { return contentView_; }
    void setContentView(std::shared_ptr<View> view);

    bool isVisible() const { return visible_; }
    // Shows the panel above the others of its level.
    void orderFront();
    void orderOut();

    double alphaValue = 1;
    int level = 0;

    // Whether the panel's top stays inside the visible frame of the screen
    // holding most of it, as a desktop keeps a title bar within reach
    // (below the menu bar); the bottom may run off the screen. Turning it on
    // holds the current frame to it too.
    void setKeepsTopOnScreen(bool keeps);

    // Of the screen that holds most of the panel, else the main screen's,
    // else 1.
    double backingScaleFactor() const;

    // The panel's content at its backing scale, transparent where nothing
    // is drawn. Drawn each time into the panel's own canvas, which is kept
    // while the size and scale stay: once the caller lets go of the bitmap,
    // the next render reuses its pixels and surface.
    BitmapRef render() const;
    void renderContent(Canvas& canvas) const;

    // Routes one event to the view that should get it: presses to the view
    // under the pointer, drags and the release to the view that was
    // pressed, movement to the views whose tracking areas it concerns.
    void sendEvent(const PointerEvent& event);

private:
    Panel(WindowServer& server, const Rect& frame);
    void trackPointer(const PointerEvent& event);
    Rect constrained(const Rect& frame) const;

    WindowServer* server_;
    Rect frame_;
    bool visible_ = false;
    bool keepsTopOnScreen_ = false;
    std::shared_ptr<View> contentView_;
    std::weak_ptr<View> pressedView_;
    std::vector<std::weak_ptr<View>> viewsUnderPointer_;
    mutable std::unique_ptr<CairoCanvas> backing_;
    mutable Size backingSize_;
    mutable double backingScale_ = 0;
};

}  // namespace platform
