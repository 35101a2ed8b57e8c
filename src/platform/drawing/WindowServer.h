#pragma once
// The in-memory window server: the screens, every panel that exists (back
// to front), the pointer and the cursor. It renders one panel or a whole
// screen into a bitmap (and so into a PNG), and takes injected pointer
// input, which it routes to the panel under the pointer as the real
// desktop would. It offers a display link only when told that the display
// provides one. Main thread only.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/drawing/Bitmap.h"
#include "platform/drawing/DisplayLink.h"
#include "platform/core/Geometry.h"
#include "platform/drawing/PointerEvent.h"

namespace platform {

class Panel;

struct Screen {
    Rect frame;
    Rect visibleFrame;
    double backingScaleFactor = 2;
    bool operator==(const Screen&) const = default;
};

class WindowServer {
public:
    explicit WindowServer(std::vector<Screen> screens = {});
    ~WindowServer();
    WindowServer(const WindowServer&) = delete;
    WindowServer& operator=(const WindowServer&) = delete;

    const std::vector<Screen>& screens() const { return screens_; }
    void setScreens(std::vector<Screen> screens) { screens_ = std::move(screens); }
    // The first screen, if any.
    std::optional<Screen> mainScreen() const;
    // The screen holding most of `rect`, if any holds part of it.
    std::optional<Screen> screenContaining(const Rect& rect) const;

    // Every live panel, back to front (by level, then by ordering).
    std::vector<std::shared_ptr<Panel>> panels() const;
    std::vector<std::shared_ptr<Panel>> visiblePanels() const;

    BitmapRef renderPanel(const Panel& panel) const;
    // The screen's desktop with every visible panel on it; null for an
    // unknown index.
    BitmapRef renderScreen(std::size_t index = 0) const;
    [[nodiscard]] bool writeScreenPng(const std::filesystem::path& path, std::size_t index = 0) const;

    // Pointer input in screen coordinates.
    Point mouseLocation() const { return mouseLocation_; }
    void movePointer(Point location);
    void pressLeft(Point location);
    void dragLeft(Point location);
    void releaseLeft(Point location);
    void pressRight(Point location);

    Cursor cursor() const { return cursor_; }
    void setCursor(Cursor cursor) { cursor_ = cursor; }

    // Whether the display offers a refresh source (off by default: headless
    // runs and tests have none).
    void setDisplayLinkAvailable(bool available) { displayLinkAvailable_ = available; }
    // A 60 Hz link when the display offers one and a screen exists, else null.
    std::unique_ptr<DisplayLink> createDisplayLinkWithActiveDisplays() const;

private:
    friend class Panel;
    void addPanel(const std::shared_ptr<Panel>& panel);
    void bringToFront(const Panel& panel);
    void prune() const;
    std::shared_ptr<Panel> panelAt(Point location) const;
    PointerEvent eventAt(PointerEventType type, const Panel& panel, Point location) const;
    void deliverMove(Point location);

    std::vector<Screen> screens_;
    mutable std::vector<std::weak_ptr<Panel>> order_;
    Point mouseLocation_;
    std::weak_ptr<Panel> pressedPanel_;
    Cursor cursor_ = Cursor::arrow;
    bool displayLinkAvailable_ = false;
};

}  // namespace platform
