#pragma once
// Menus: a list of items (title, key equivalent, enabled flag, on/off
// state, an action closure, an optional submenu, a tag and a represented
// object), and popping one up as a panel on the in-memory window server.
//
// An open menu is an ordinary panel at the pop-up level, so a screen render
// shows it. It stays open until an item is chosen (a click on its row, or
// performItem()), cancelTracking() is called, or another menu opens on the
// same window server. Choosing an item closes the menu (and the menus it
// hangs from) before the action runs, so an action may open a new menu.
//
// An item can be chosen when it is not a separator, is enabled and has an
// action; an item without an action reads as disabled, as information
// lines do. Items with a submenu open it beside their row when clicked.
//
// Menus and items are shared objects (use make()); main thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Geometry.h"
#include "platform/core/PropertyList.h"

namespace platform {

class Menu;
class Panel;
class View;
class WindowServer;

enum class MenuItemState { off, on, mixed };

class MenuItem : public std::enable_shared_from_this<MenuItem> {
public:
    // Runs with the item that was chosen (its tag and represented object
    // tell items apart that share one action).
    using Action = std::function<void(MenuItem& sender)>;

    static std::shared_ptr<MenuItem> make(std::string title, Action action = {}, std::string keyEquivalent = {});
    static std::shared_ptr<MenuItem> separatorItem();

    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    std::string title;
    // A single character such as "q" or ","; empty for none.
    std::string keyEquivalent;
    bool enabled = true;
    MenuItemState state = MenuItemState::off;
    int tag = 0;
    std::optional<PropertyValue> representedObject;
    Action action;

    bool isSeparatorItem() const { return separator_; }
    // Not a separator, enabled, with an action.
    bool isSelectable() const { return !separator_ && enabled && static_cast<bool>(action); }
    // Drawn greyed: a disabled item, or an item with neither action nor
    // submenu.
    bool isGreyed() const { return !separator_ && (!enabled || (!action && !submenu_)); }

    const std::shared_ptr<Menu>& submenu() const { return submenu_; }
    void setSubmenu(std::shared_ptr<Menu> submenu);
    bool hasSubmenu() const { return submenu_ != nullptr; }

    // The menu holding the item, if any.
    Menu* menu() const { return menu_; }

private:
    friend class Menu;
    MenuItem() = default;

    bool separator_ = false;
    std::shared_ptr<Menu> submenu_;
    Menu* menu_ = nullptr;
};

class Menu : public std::enable_shared_from_this<Menu> {
public:
    // Row metrics of the drawn menu, in points.
    static constexpr double itemHeight = 22;
    static constexpr double separatorHeight = 11;
    static constexpr double verticalPadding = 5;
    static constexpr double minimumWidth = 120;
    // Level of an open menu's panel, above floating panels.
    static constexpr int popUpMenuLevel = 101;

    static std::shared_ptr<Menu> make(std::string title = {});
    ~Menu();
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    std::string title;

    // --- Items ---
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
    std::size_t numberOfItems() const { return items_.size(); }
    // Adding an item that sits in another menu moves it here.
    MenuItem& addItem(std::shared_ptr<MenuItem> item);
    MenuItem& addItem(std::string title, MenuItem::Action action = {}, std::string keyEquivalent = {});
    void addSeparator();
    // `index` is clamped to the number of items.
    MenuItem& insertItem(std::shared_ptr<MenuItem> item, std::size_t index);
    void removeItem(std::size_t index);
    void removeAllItems();
    MenuItem* itemAt(std::size_t index) const;
    MenuItem* itemWithTitle(const std::string& title) const;
    std::optional<std::size_t> indexOfItemWithTitle(const std::string& title) const;
    // The titles in order, separators as "-"; for assertions and logs.
    std::vector<std::string> itemTitles() const;
    Menu* supermenu() const { return supermenu_; }

    // --- Layout ---
    // Measures the items again; size() reads the result.
    void update();
    Size size() const;
    // The rectangle of item `index` in the menu's own coordinates
    // (bottom-left origin, the first item at the top).
    Rect rectOfItem(std::size_t index) const;
    // The index of the item under `point` (menu coordinates), if any.
    std::optional<std::size_t> indexOfItemAt(Point point) const;

    // --- Choosing ---
    // Chooses item `index`: when it is selectable, closes the open menus
    // and runs its action; answers whether the action ran. An item with a
    // submenu opens the submenu when this menu is open and answers false.
    bool performItem(std::size_t index);
    bool performItem(const MenuItem& item);
    // Chooses the first selectable item, here or in a submenu (depth
    // first), whose key equivalent is `key`; answers whether one ran.
    bool performKeyEquivalent(const std::string& key);

    // --- Pop-up ---
    // Opens the menu with its top-left corner at `location` (screen
    // coordinates), moved inside the visible frame of the screen holding
    // the location; closes any other open menu on `server` first.
    void popUp(WindowServer& server, Point location);
    // The platform's form: `positioningItem` is not supported and must be
    // null (it answers false otherwise); `location` is in `view`'s
    // coordinates. Answers false when the view has no window.
    bool popUp(const MenuItem* positioningItem, Point location, const View& view);
    bool isOpen() const;
    // Where the open menu stands on the screen.
    std::optional<Rect> openFrame() const;
    std::shared_ptr<Panel> panel() const { return panel_; }
    // The row under the pointer while open.
    std::optional<std::size_t> highlightedIndex() const { return highlighted_; }
    // Closes the menu and its open submenu without choosing anything.
    void cancelTracking();
    // Runs after the menu closed, whichever way.
    std::function<void()> onClose;

    // The menu currently open on `server` (the root of the open chain).
    static std::shared_ptr<Menu> openMenu(const WindowServer& server);

private:
    friend class MenuItem;
    friend class MenuView;
    Menu() = default;

    void adopt(MenuItem& item);
    void closeChain();  // from the root down
    void setHighlighted(std::optional<std::size_t> index);
    void openSubmenu(std::size_t index);

    std::vector<std::shared_ptr<MenuItem>> items_;
    Menu* supermenu_ = nullptr;
    mutable std::optional<Size> size_;
    std::shared_ptr<Panel> panel_;
    std::shared_ptr<Menu> openSubmenu_;
    std::optional<std::size_t> highlighted_;
};

}  // namespace platform
