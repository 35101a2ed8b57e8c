#include "platform/drawing/Window.h"

#include <algorithm>

#include "platform/drawing/SystemColors.h"
#include "platform/drawing/WindowServer.h"

namespace platform {

namespace {

constexpr double kCloseButtonSide = 12;
constexpr double kCloseButtonInset = 10;

// The title bar and the window's body; the content view sits below the bar.
class WindowFrameView final : public View {
public:
    WindowFrameView(const Rect& frame, Window& window) : View(frame), window_(window) {}

    void draw(Canvas& canvas, const Rect&) override {
        const Rect all = bounds();
        canvas.setFillColor({0, 0, 0, 0.25});
        canvas.fillPath(Path::rectangle(all));
        canvas.setFillColor(SystemColors::windowBackground);
        canvas.fillPath(Path::rectangle(Rect(1, 1, all.width() - 2, all.height() - 2)));
        const Rect bar(1, all.height() - Window::titleBarHeight, all.width() - 2, Window::titleBarHeight - 1);
        canvas.setFillColor({0.88, 0.88, 0.88, 1});
        canvas.fillPath(Path::rectangle(bar));
        if (window_.styleMask() & WindowStyleMask::closable) {
            canvas.setFillColor(SystemColors::red);
            canvas.fillPath(Path::ellipse(closeButton()));
        }
        TextStyle style;
        style.font = Font::system(13, FontWeight::semibold);
        style.foreground = SystemColors::label;
        style.alignment = TextAlignment::center;
        style.truncateTail = true;
        const double textHeight = measureText(window_.title, style.font).height;
        canvas.drawText(window_.title, style, Rect(bar.minX() + 60, bar.midY() - textHeight / 2, bar.width() - 120,
                                                   textHeight));
    }

    void mouseUp(const PointerEvent& event) override {
        const Rect button = closeButton();
        const Point p = event.locationInWindow;
        if ((window_.styleMask() & WindowStyleMask::closable) && p.x >= button.minX() && p.x <= button.maxX() &&
            p.y >= button.minY() && p.y <= button.maxY()) {
            window_.close();
        }
    }

    Rect closeButton() const {
        const double top = bounds().height() - (Window::titleBarHeight - kCloseButtonSide) / 2;
        return Rect(kCloseButtonInset, top - kCloseButtonSide, kCloseButtonSide, kCloseButtonSide);
    }

private:
    Window& window_;
};

}  // namespace

std::shared_ptr<Window> Window::make(WindowServer& server, Size contentSize, unsigned styleMask) {
    return std::shared_ptr<Window>(new Window(server, contentSize, styleMask));
}

Window::Window(WindowServer& server, Size contentSize, unsigned styleMask) : styleMask_(styleMask) {
    const double bar = (styleMask & WindowStyleMask::titled) ? titleBarHeight : 0;
    const Rect frame(0, 0, contentSize.width, contentSize.height + bar);
    panel_ = Panel::make(server, frame);
    panel_->level = normalLevel;
    frameView_ = std::make_shared<WindowFrameView>(Rect(0, 0, frame.width(), frame.height()), *this);
    panel_->setContentView(frameView_);
    panel_->setKeepsTopOnScreen(styleMask & WindowStyleMask::titled);
}

Window::~Window() {
    panel_->orderOut();
    panel_->setContentView(nullptr);
}

Size Window::contentSize() const {
    const double bar = (styleMask_ & WindowStyleMask::titled) ? titleBarHeight : 0;
    return {panel_->frame().width(), panel_->frame().height() - bar};
}

void Window::setContentView(std::shared_ptr<View> view) {
    if (contentView_) contentView_->removeFromSuperview();
    contentView_ = std::move(view);
    if (!contentView_) return;
    const Size size = contentSize();
    contentView_->setFrame(Rect(0, 0, size.width, size.height));
    frameView_->addSubview(contentView_);
}

void Window::center() {
    const auto screen = panel_->server().mainScreen();
    if (!screen) return;
    const Rect visible = screen->visibleFrame;
    const Rect frame = panel_->frame();
    const double x = visible.minX() + (visible.width() - frame.width()) / 2;
    // A little above the middle, as desktops place new windows.
    const double y = visible.minY() + (visible.height() - frame.height()) * 2 / 3;
    panel_->setFrame(Rect(x, std::max(visible.minY(), y), frame.width(), frame.height()), true);
}

void Window::orderFrontRegardless() { panel_->orderFront(); }

void Window::makeKeyAndOrderFront() {
    key_ = true;
    panel_->orderFront();
}

void Window::close() {
    if (!panel_->isVisible()) return;
    // The delegate may drop the last reference to the window.
    const auto self = shared_from_this();
    if (onWillClose) onWillClose(*this);
    key_ = false;
    panel_->orderOut();
}

}  // namespace platform
