#include "platform/drawing/Menu.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

#include "platform/drawing/Panel.h"
#include "platform/drawing/SystemColors.h"
#include "platform/drawing/TextLayout.h"
#include "platform/drawing/View.h"
#include "platform/drawing/WindowServer.h"

namespace platform {

namespace {

constexpr double fontSize = 13;
constexpr double checkColumn = 20;      // the state mark left of the title
constexpr double trailingColumn = 18;   // right of the title or key equivalent
constexpr double keyGap = 24;           // between the title and the key equivalent
constexpr double cornerRadius = 6;
constexpr Color menuBackground{0.96, 0.96, 0.96, 0.98};
constexpr Color menuBorder{0, 0, 0, 0.18};
constexpr Color highlightColor{0.04, 0.45, 0.95, 1};
constexpr Color separatorColor{0, 0, 0, 0.12};

bool containsPoint(const Rect& rect, Point p) {
    return p.x >= rect.minX() && p.x < rect.maxX() && p.y >= rect.minY() && p.y < rect.maxY();
}

std::string keyEquivalentLabel(const std::string& key) {
    if (key.empty()) return {};
    std::string upper = key;
    if (upper.size() == 1) upper[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[0])));
    return "\u2318" + upper;  // the command key
}

// The menu open on each window server, by server.
std::map<const WindowServer*, std::weak_ptr<Menu>>& openMenus() {
    static std::map<const WindowServer*, std::weak_ptr<Menu>> menus;
    return menus;
}

}  // namespace

// The content of an open menu's panel: draws the rows and turns pointer
// input into highlighting and choosing.
class MenuView final : public View {
public:
    MenuView(const Rect& frame, std::weak_ptr<Menu> menu) : View(frame), menu_(std::move(menu)) {}

    void draw(Canvas& canvas, const Rect&) override {
        auto menu = menu_.lock();
        if (!menu) return;
        const Rect b = bounds();
        canvas.setFillColor(menuBackground);
        canvas.fillPath(Path::roundedRect(b, cornerRadius, cornerRadius));
        canvas.setStrokeColor(menuBorder);
        canvas.setLineWidth(1);
        canvas.strokePath(Path::roundedRect({0.5, 0.5, b.width() - 1, b.height() - 1}, cornerRadius, cornerRadius));
        for (std::size_t i = 0; i < menu->items().size(); ++i) drawItem(canvas, *menu, i);
    }

    void updateTrackingAreas() override {
        removeAllTrackingAreas();
        addTrackingArea({bounds(), TrackingOptions::mouseEnteredAndExited | TrackingOptions::mouseMoved |
                                       TrackingOptions::activeAlways | TrackingOptions::inVisibleRect});
    }

    void mouseMoved(const PointerEvent& event) override { highlightAt(event); }
    void mouseEntered(const PointerEvent& event) override { highlightAt(event); }
    void mouseExited(const PointerEvent&) override {
        if (auto menu = menu_.lock()) {
            if (!menu->openSubmenu_) menu->setHighlighted(std::nullopt);
        }
    }
    void mouseDown(const PointerEvent& event) override { highlightAt(event); }
    void mouseUp(const PointerEvent& event) override {
        auto menu = menu_.lock();
        if (!menu) return;
        if (auto index = menu->indexOfItemAt(convertFromWindow(event.locationInWindow)))
            (void)menu->performItem(*index);  // a click on a greyed row does nothing
    }

private:
    void highlightAt(const PointerEvent& event) {
        auto menu = menu_.lock();
        if (!menu) return;
        auto index = menu->indexOfItemAt(convertFromWindow(event.locationInWindow));
        if (index && menu->items()[*index]->isSeparatorItem()) index.reset();
        if (index && menu->items()[*index]->isGreyed()) index.reset();
        menu->setHighlighted(index);
        if (index && menu->items()[*index]->hasSubmenu()) menu->openSubmenu(*index);
    }

    void drawItem(Canvas& canvas, const Menu& menu, std::size_t index) {
        const MenuItem& item = *menu.items()[index];
        const Rect row = menu.rectOfItem(index);
        if (item.isSeparatorItem()) {
            canvas.setFillColor(separatorColor);
            canvas.fillPath(Path::rectangle({row.minX() + 10, row.midY() - 0.5, row.width() - 20, 1}));
            return;
        }
        const bool highlighted = menu.highlightedIndex() == index;
        if (highlighted) {
            canvas.setFillColor(highlightColor);
            canvas.fillPath(Path::roundedRect({row.minX() + 5, row.minY(), row.width() - 10, row.height()}, 4, 4));
        }
        TextStyle style;
        style.font = Font::system(fontSize);
        style.foreground = highlighted        ? SystemColors::white
                           : item.isGreyed() ? SystemColors::secondaryLabel
                                             : SystemColors::label;
        style.truncateTail = true;
        const double lineHeight = measureText("Mg", style.font).height;
        const double textTop = row.minY() + (row.height() + lineHeight) / 2;
        auto box = [&](double x, double width) { return Rect{x, textTop - lineHeight, width, lineHeight}; };
        if (item.state != MenuItemState::off)
            canvas.drawText(item.state == MenuItemState::on ? "\u2713" : "\u2013", style, box(row.minX() + 6, 14));
        const std::string key = keyEquivalentLabel(item.keyEquivalent);
        const double keyWidth = key.empty() ? 0 : measureText(key, style.font).width;
        const double titleX = row.minX() + checkColumn;
        const double titleWidth = std::max(0.0, row.maxX() - trailingColumn - titleX - (key.empty() ? 0 : keyWidth + keyGap));
        canvas.drawText(item.title, style, box(titleX, titleWidth));
        if (!key.empty()) {
            TextStyle keyStyle = style;
            keyStyle.alignment = TextAlignment::right;
            canvas.drawText(key, keyStyle, box(row.maxX() - trailingColumn - keyWidth, keyWidth));
        }
        if (item.hasSubmenu()) canvas.drawText("\u25B8", style, box(row.maxX() - trailingColumn, 12));
    }

    std::weak_ptr<Menu> menu_;
};

// --- MenuItem ---

std::shared_ptr<MenuItem> MenuItem::make(std::string title, Action action, std::string keyEquivalent) {
    std::shared_ptr<MenuItem> item(new MenuItem());
    item->title = std::move(title);
    item->action = std::move(action);
    item->keyEquivalent = std::move(keyEquivalent);
    return item;
}

std::shared_ptr<MenuItem> MenuItem::separatorItem() {
    std::shared_ptr<MenuItem> item(new MenuItem());
    item->separator_ = true;
    item->enabled = false;
    return item;
}

void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
    if (submenu_) submenu_->supermenu_ = nullptr;
    submenu_ = std::move(submenu);
    if (submenu_) submenu_->supermenu_ = menu_;
    if (menu_) menu_->size_.reset();
}

// --- Menu: items ---

std::shared_ptr<Menu> Menu::make(std::string title) {
    std::shared_ptr<Menu> menu(new Menu());
    menu->title = std::move(title);
    return menu;
}

Menu::~Menu() {
    if (panel_) panel_->orderOut();
    for (const auto& item : items_) {
        item->menu_ = nullptr;
        if (item->submenu_) item->submenu_->supermenu_ = nullptr;
    }
}

void Menu::adopt(MenuItem& item) {
    if (item.menu_ && item.menu_ != this) {
        Menu& previous = *item.menu_;
        auto it = std::find_if(previous.items_.begin(), previous.items_.end(),
                               [&](const auto& held) { return held.get() == &item; });
        if (it != previous.items_.end()) previous.items_.erase(it);
        previous.size_.reset();
    }
    item.menu_ = this;
    if (item.submenu_) item.submenu_->supermenu_ = this;
    size_.reset();
}

MenuItem& Menu::addItem(std::shared_ptr<MenuItem> item) { return insertItem(std::move(item), items_.size()); }

MenuItem& Menu::addItem(std::string title, MenuItem::Action action, std::string keyEquivalent) {
    return addItem(MenuItem::make(std::move(title), std::move(action), std::move(keyEquivalent)));
}

void Menu::addSeparator() { addItem(MenuItem::separatorItem()); }

MenuItem& Menu::insertItem(std::shared_ptr<MenuItem> item, std::size_t index) {
    MenuItem& ref = *item;
    if (ref.menu_ == this) {  // re-inserting moves it
        auto it = std::find(items_.begin(), items_.end(), item);
        if (it != items_.end()) items_.erase(it);
    }
    adopt(ref);
    index = std::min(index, items_.size());
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
    return ref;
}

void Menu::removeItem(std::size_t index) {
    if (index >= items_.size()) return;
    items_[index]->menu_ = nullptr;
    if (items_[index]->submenu_) items_[index]->submenu_->supermenu_ = nullptr;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    highlighted_.reset();
    size_.reset();
}

void Menu::removeAllItems() {
    for (const auto& item : items_) {
        item->menu_ = nullptr;
        if (item->submenu_) item->submenu_->supermenu_ = nullptr;
    }
    items_.clear();
    highlighted_.reset();
    size_.reset();
}

MenuItem* Menu::itemAt(std::size_t index) const { return index < items_.size() ? items_[index].get() : nullptr; }

MenuItem* Menu::itemWithTitle(const std::string& wanted) const {
    auto index = indexOfItemWithTitle(wanted);
    return index ? items_[*index].get() : nullptr;
}

std::optional<std::size_t> Menu::indexOfItemWithTitle(const std::string& wanted) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (!items_[i]->isSeparatorItem() && items_[i]->title == wanted) return i;
    return std::nullopt;
}

std::vector<std::string> Menu::itemTitles() const {
    std::vector<std::string> titles;
    for (const auto& item : items_) titles.push_back(item->isSeparatorItem() ? "-" : item->title);
    return titles;
}

// --- Menu: layout ---

void Menu::update() {
    const Font font = Font::system(fontSize);
    double width = minimumWidth;
    double height = 2 * verticalPadding;
    for (const auto& item : items_) {
        if (item->isSeparatorItem()) {
            height += separatorHeight;
            continue;
        }
        height += itemHeight;
        double row = checkColumn + measureText(item->title, font).width + trailingColumn;
        if (!item->keyEquivalent.empty()) row += keyGap + measureText(keyEquivalentLabel(item->keyEquivalent), font).width;
        width = std::max(width, std::ceil(row));
    }
    size_ = Size{width, height};
}

Size Menu::size() const {
    if (!size_) const_cast<Menu*>(this)->update();
    return *size_;
}

Rect Menu::rectOfItem(std::size_t index) const {
    const Size s = size();
    double top = s.height - verticalPadding;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const double h = items_[i]->isSeparatorItem() ? separatorHeight : itemHeight;
        if (i == index) return {0, top - h, s.width, h};
        top -= h;
    }
    return {};
}

std::optional<std::size_t> Menu::indexOfItemAt(Point point) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (containsPoint(rectOfItem(i), point)) return i;
    return std::nullopt;
}

// --- Menu: choosing ---

bool Menu::performItem(std::size_t index) {
    if (index >= items_.size()) return false;
    std::shared_ptr<MenuItem> item = items_[index];  // the action may empty the menu
    if (item->hasSubmenu() && !item->action) {
        if (isOpen()) openSubmenu(index);
        return false;
    }
    if (!item->isSelectable()) return false;
    closeChain();
    MenuItem::Action action = item->action;  // the action may replace itself
    action(*item);
    return true;
}

bool Menu::performItem(const MenuItem& item) {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == &item) return performItem(i);
    return false;
}

bool Menu::performKeyEquivalent(const std::string& key) {
    if (key.empty()) return false;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const auto& item = items_[i];
        if (item->keyEquivalent == key && item->isSelectable()) return performItem(i);
        if (item->submenu_ && item->enabled && item->submenu_->performKeyEquivalent(key)) return true;
    }
    return false;
}

// --- Menu: pop-up ---

void Menu::popUp(WindowServer& server, Point location) {
    if (!supermenu_) {
        if (auto open = openMenu(server); open && open.get() != this) open->cancelTracking();
    }
    if (isOpen()) cancelTracking();
    update();
    const Size s = size();
    Rect frame{location.x, location.y - s.height, s.width, s.height};
    // Kept inside the visible frame of the screen the location is on.
    for (const Screen& screen : server.screens()) {
        if (!containsPoint(screen.frame, location)) continue;
        const Rect& visible = screen.visibleFrame;
        frame.origin.x = std::max(visible.minX(), std::min(frame.minX(), visible.maxX() - s.width));
        frame.origin.y = std::max(visible.minY(), std::min(frame.minY(), visible.maxY() - s.height));
        break;
    }
    highlighted_.reset();
    panel_ = Panel::make(server, frame);
    panel_->level = popUpMenuLevel;
    auto view = std::make_shared<MenuView>(Rect{0, 0, s.width, s.height}, weak_from_this());
    panel_->setContentView(view);
    view->updateTrackingAreas();
    panel_->orderFront();
    if (!supermenu_) openMenus()[&server] = weak_from_this();
}

bool Menu::popUp(const MenuItem* positioningItem, Point location, const View& view) {
    if (positioningItem) return false;
    const Panel* window = view.window();
    if (!window) return false;
    // From the view to the window, then to the screen.
    Point inWindow = location;
    for (const View* v = &view; v; v = v->superview()) {
        inWindow.x += v->frame().minX();
        inWindow.y += v->frame().minY();
    }
    popUp(window->server(), {window->frame().minX() + inWindow.x, window->frame().minY() + inWindow.y});
    return true;
}

bool Menu::isOpen() const { return panel_ && panel_->isVisible(); }

std::optional<Rect> Menu::openFrame() const {
    if (!isOpen()) return std::nullopt;
    return panel_->frame();
}

void Menu::setHighlighted(std::optional<std::size_t> index) {
    if (highlighted_ == index) return;
    highlighted_ = index;
    if (openSubmenu_ && (!index || items_[*index]->submenu_ != openSubmenu_)) {
        openSubmenu_->cancelTracking();
        openSubmenu_.reset();
    }
    if (panel_ && panel_->contentView()) panel_->contentView()->setNeedsDisplay(true);
}

void Menu::openSubmenu(std::size_t index) {
    if (!panel_ || index >= items_.size()) return;
    const auto& submenu = items_[index]->submenu_;
    if (!submenu || (openSubmenu_ == submenu && submenu->isOpen())) return;
    if (openSubmenu_) openSubmenu_->cancelTracking();
    highlighted_ = index;
    const Rect row = rectOfItem(index);
    const Rect frame = panel_->frame();
    openSubmenu_ = submenu;
    submenu->popUp(panel_->server(), {frame.maxX() - 4, frame.minY() + row.maxY() + verticalPadding});
}

void Menu::cancelTracking() {
    if (openSubmenu_) {
        openSubmenu_->cancelTracking();
        openSubmenu_.reset();
    }
    const bool wasOpen = isOpen();
    if (panel_) {
        auto& menus = openMenus();
        auto it = menus.find(&panel_->server());
        if (it != menus.end() && it->second.lock().get() == this) menus.erase(it);
        panel_->orderOut();
        panel_.reset();
    }
    highlighted_.reset();
    if (wasOpen && onClose) {
        auto callback = onClose;
        callback();
    }
}

void Menu::closeChain() {
    Menu* root = this;
    while (root->supermenu_ && root->supermenu_->isOpen()) root = root->supermenu_;
    root->cancelTracking();
}

std::shared_ptr<Menu> Menu::openMenu(const WindowServer& server) {
    auto& menus = openMenus();
    auto it = menus.find(&server);
    if (it == menus.end()) return nullptr;
    auto menu = it->second.lock();
    if (!menu || !menu->isOpen()) {
        menus.erase(it);
        return nullptr;
    }
    return menu;
}

}  // namespace platform
