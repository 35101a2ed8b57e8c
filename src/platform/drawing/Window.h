#pragma once
// A titled application window on the in-memory desktop: a title bar with
// the title and a close button above a content view, built on a Panel.
// `contentRect` is the size of the content; the panel adds the title bar.
// Wherever a titled window's frame is set, its title bar stays inside the
// visible frame of its screen, and a window taller than that runs off the
// bottom instead.
// The window is key while it was last made key and is on screen. Closing it
// (the close button, or close()) tells the delegate first, then takes the
// window off the screen. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/drawing/Panel.h"
#include "platform/drawing/View.h"

namespace platform {

namespace WindowStyleMask {
inline constexpr unsigned titled = 1;
inline constexpr unsigned closable = 2;
inline constexpr unsigned miniaturizable = 4;
inline constexpr unsigned resizable = 8;
}  // namespace WindowStyleMask

class Window : public std::enable_shared_from_this<Window> {
public:
    static constexpr double titleBarHeight = 28;
    static constexpr int normalLevel = 0;

    static std::shared_ptr<Window> make(WindowServer& server, Size contentSize, unsigned styleMask);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    std::string title;
    unsigned styleMask() const { return styleMask_; }
    // Called by close() before the window leaves the screen.
    std::function<void(Window&)> onWillClose;

    void setContentView(std::shared_ptr<View> view);
    const std::shared_ptr<View>& contentView() const { return contentView_; }
    Size contentSize() const;
    Rect frame() const { return panel_->frame(); }

    // Centres the window on the main screen's visible frame, a little above
    // the middle; one taller than the visible frame starts at its top if
    // titled, else at its bottom.
    void center();
    void orderFrontRegardless();
    void makeKeyAndOrderFront();
    void close();
    bool isVisible() const { return panel_->isVisible(); }
    bool isKeyWindow() const { return key_ && panel_->isVisible(); }

    const std::shared_ptr<Panel>& panel() const { return panel_; }

private:
    Window(WindowServer& server, Size contentSize, unsigned styleMask);

    std::shared_ptr<Panel> panel_;
    std::shared_ptr<View> frameView_;
    std::shared_ptr<View> contentView_;
    unsigned styleMask_;
    bool key_ = false;
};

}  // namespace platform
