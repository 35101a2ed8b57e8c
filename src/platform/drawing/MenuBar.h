#pragma once
// The menu bar of the in-memory desktop: a strip across the top of the main
// screen (down to the top of its visible frame) that shows the application's
// main menu on the left and the status items on the right, so a screen
// render shows them. A click on a title opens that menu below it, as does
// StatusItem::performClick(). The bar must outlive its items' use of it.
// Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Geometry.h"
#include "platform/drawing/Image.h"
#include "platform/drawing/Menu.h"

namespace platform {

class MenuBar;
class Panel;
class WindowServer;

// An item of the bar's right-hand side: a button (title, template image,
// accessibility description) and the menu a click opens.
class StatusItem {
public:
    static constexpr double variableLength = -1;

    struct Button {
        std::string title;
        ImageRef image;
        std::string accessibilityDescription;
    };

    double length() const { return length_; }
    Button& button() { return button_; }
    const Button& button() const { return button_; }
    std::shared_ptr<Menu> menu;

    // Opens the menu below the item; false when there is no menu or the
    // item is not on the bar.
    bool performClick();
    // Where the item stands on the screen.
    std::optional<Rect> frame() const;

private:
    friend class MenuBar;
    StatusItem(MenuBar& bar, double length) : bar_(&bar), length_(length) {}

    MenuBar* bar_;
    double length_;
    Button button_;
};

class MenuBar {
public:
    static constexpr double defaultHeight = 24;
    static constexpr int level = 24;

    explicit MenuBar(WindowServer& server);
    ~MenuBar();
    MenuBar(const MenuBar&) = delete;
    MenuBar& operator=(const MenuBar&) = delete;

    WindowServer& server() const { return server_; }

    // The application's main menu: each item with a submenu shows that
    // submenu's title.
    void setMainMenu(std::shared_ptr<Menu> menu);
    const std::shared_ptr<Menu>& mainMenu() const { return mainMenu_; }

    // A new item at the left end of the right-hand side; `length` is a width
    // in points, or variableLength to fit the button.
    std::shared_ptr<StatusItem> statusItem(double length);
    const std::vector<std::shared_ptr<StatusItem>>& statusItems() const { return statusItems_; }

    // Opens the submenu of main-menu item `index` below its title.
    bool openMainMenuItem(std::size_t index);

    // The strip's frame on the screen (none without a screen).
    std::optional<Rect> frame() const;
    const std::shared_ptr<Panel>& panel() const { return panel_; }

    // One clickable segment of the bar, in screen coordinates.
    struct Segment {
        Rect frame;
        std::string title;
        ImageRef image;
        bool bold = false;
        std::shared_ptr<Menu> menu;
    };
    std::vector<Segment> segments() const;

private:
    friend class StatusItem;
    void placePanel();
    bool open(const Segment& segment);

    WindowServer& server_;
    std::shared_ptr<Panel> panel_;
    std::shared_ptr<Menu> mainMenu_;
    std::vector<std::shared_ptr<StatusItem>> statusItems_;
};

}  // namespace platform
