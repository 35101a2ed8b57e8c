#include "platform/drawing/MenuBar.h"

#include <algorithm>

#include "platform/drawing/Panel.h"
#include "platform/drawing/SystemColors.h"
#include "platform/drawing/TextLayout.h"
#include "platform/drawing/View.h"
#include "platform/drawing/WindowServer.h"

namespace platform {

namespace {

constexpr double kTextPadding = 10;
constexpr double kImageSide = 16;
constexpr double kImageGap = 2;
constexpr double kLeftInset = 12;
constexpr double kRightInset = 8;

Font titleFont(bool bold) { return Font::system(13, bold ? FontWeight::bold : FontWeight::regular); }

double segmentWidth(const std::string& title, const ImageRef& image, bool bold) {
    double width = 2 * kTextPadding + measureText(title, titleFont(bold)).width;
    if (image) width += kImageSide + kImageGap;
    return width;
}

// Draws the bar from the segments it is given at every render.
class MenuBarView final : public View {
public:
    MenuBarView(const Rect& frame, MenuBar& bar) : View(frame), bar_(bar) {}

    void draw(Canvas& canvas, const Rect&) override {
        canvas.setFillColor({0.96, 0.96, 0.96, 0.92});
        canvas.fillPath(Path::rectangle(bounds()));
        const Rect onScreen = bar_.frame().value_or(Rect());
        for (const auto& segment : bar_.segments()) {
            double x = segment.frame.minX() - onScreen.minX() + kTextPadding;
            const double midY = bounds().height() / 2;
            if (segment.image && segment.image->bitmap()) {
                canvas.drawBitmap(segment.image->bitmap(), Rect(x, midY - kImageSide / 2, kImageSide, kImageSide));
                x += kImageSide + kImageGap;
            }
            TextStyle style;
            style.font = titleFont(segment.bold);
            style.foreground = SystemColors::label;
            const double textHeight = measureText(segment.title, style.font).height;
            canvas.drawText(segment.title, style, Rect(x, midY - textHeight / 2, segment.frame.width(), textHeight));
        }
    }

    void mouseDown(const PointerEvent& event) override {
        const Rect onScreen = bar_.frame().value_or(Rect());
        const Point point{event.locationInWindow.x + onScreen.minX(), event.locationInWindow.y + onScreen.minY()};
        const auto segments = bar_.segments();
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const Rect& f = segments[i].frame;
            if (point.x >= f.minX() && point.x < f.maxX() && segments[i].menu) {
                segments[i].menu->popUp(bar_.server(), {f.minX(), f.minY()});
                return;
            }
        }
    }

private:
    MenuBar& bar_;
};

}  // namespace

bool StatusItem::performClick() {
    const auto segments = bar_->segments();
    const std::size_t mainCount = segments.size() - bar_->statusItems_.size();
    for (std::size_t i = 0; i < bar_->statusItems_.size(); ++i) {
        if (bar_->statusItems_[i].get() == this) return bar_->open(segments[mainCount + i]);
    }
    return false;
}

std::optional<Rect> StatusItem::frame() const {
    if (!bar_->frame()) return std::nullopt;
    const auto segments = bar_->segments();
    const std::size_t mainCount = segments.size() - bar_->statusItems_.size();
    for (std::size_t i = 0; i < bar_->statusItems_.size(); ++i) {
        if (bar_->statusItems_[i].get() == this) return segments[mainCount + i].frame;
    }
    return std::nullopt;
}

MenuBar::MenuBar(WindowServer& server) : server_(server) { placePanel(); }

MenuBar::~MenuBar() {
    if (panel_) panel_->setContentView(nullptr);
}

void MenuBar::placePanel() {
    const auto bar = frame();
    if (!bar) return;
    if (!panel_) {
        panel_ = Panel::make(server_, *bar);
        panel_->level = level;
        panel_->setContentView(std::make_shared<MenuBarView>(Rect(0, 0, bar->width(), bar->height()), *this));
    }
    panel_->setFrame(*bar, true);
    panel_->orderFront();
}

std::optional<Rect> MenuBar::frame() const {
    const auto screen = server_.mainScreen();
    if (!screen) return std::nullopt;
    double height = screen->frame.maxY() - screen->visibleFrame.maxY();
    if (height <= 0) height = defaultHeight;
    return Rect(screen->frame.minX(), screen->frame.maxY() - height, screen->frame.width(), height);
}

void MenuBar::setMainMenu(std::shared_ptr<Menu> menu) {
    mainMenu_ = std::move(menu);
    placePanel();
}

std::shared_ptr<StatusItem> MenuBar::statusItem(double length) {
    std::shared_ptr<StatusItem> item(new StatusItem(*this, length));
    statusItems_.push_back(item);
    placePanel();
    return item;
}

std::vector<MenuBar::Segment> MenuBar::segments() const {
    std::vector<Segment> segments;
    const auto bar = frame();
    if (!bar) return segments;
    double left = bar->minX() + kLeftInset;
    if (mainMenu_) {
        for (const auto& item : mainMenu_->items()) {
            if (!item->hasSubmenu()) continue;
            const std::string& title = item->submenu()->title;
            const bool bold = segments.empty();  // the application's own menu
            const double width = segmentWidth(title, nullptr, bold);
            segments.push_back({Rect(left, bar->minY(), width, bar->height()), title, nullptr, bold, item->submenu()});
            left += width;
        }
    }
    double right = bar->maxX() - kRightInset;
    for (const auto& item : statusItems_) {
        const auto& button = item->button();
        const double width =
            item->length() >= 0 ? item->length() : segmentWidth(button.title, button.image, false);
        right -= width;
        segments.push_back({Rect(right, bar->minY(), width, bar->height()), button.title, button.image, false,
                            item->menu});
    }
    return segments;
}

bool MenuBar::open(const Segment& segment) {
    if (!segment.menu) return false;
    segment.menu->popUp(server_, {segment.frame.minX(), segment.frame.minY()});
    return true;
}

bool MenuBar::openMainMenuItem(std::size_t index) {
    const auto all = segments();
    const std::size_t mainCount = all.size() - statusItems_.size();
    if (index >= mainCount) return false;
    return open(all[index]);
}

}  // namespace platform
