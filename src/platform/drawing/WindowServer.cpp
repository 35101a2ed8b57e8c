#include "platform/drawing/WindowServer.h"

#include <algorithm>
#include <limits>

#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/Panel.h"

namespace platform {

namespace {

constexpr Color desktopColor{0.33, 0.42, 0.5, 1};

double overlapArea(const Rect& a, const Rect& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return (w > 0 && h > 0) ? w * h : 0;
}

bool contains(const Rect& rect, Point p) {
    return p.x >= rect.minX() && p.x < rect.maxX() && p.y >= rect.minY() && p.y < rect.maxY();
}

}  // namespace

WindowServer::WindowServer(std::vector<Screen> screens) : screens_(std::move(screens)) {}
WindowServer::~WindowServer() = default;

std::optional<Screen> WindowServer::mainScreen() const {
    if (screens_.empty()) return std::nullopt;
    return screens_.front();
}

std::optional<Screen> WindowServer::screenContaining(const Rect& rect) const {
    std::optional<Screen> best;
    double bestArea = 0;
    for (const auto& screen : screens_) {
        const double area = overlapArea(screen.frame, rect);
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    return best;
}

void WindowServer::addPanel(const std::shared_ptr<Panel>& panel) {
    prune();
    order_.push_back(panel);
}

void WindowServer::bringToFront(const Panel& panel) {
    auto it = std::find_if(order_.begin(), order_.end(), [&](const auto& weak) { return weak.lock().get() == &panel; });
    if (it == order_.end()) return;
    std::rotate(it, it + 1, order_.end());
}

void WindowServer::prune() const {
    order_.erase(std::remove_if(order_.begin(), order_.end(), [](const auto& weak) { return weak.expired(); }),
                 order_.end());
}

std::vector<std::shared_ptr<Panel>> WindowServer::panels() const {
    std::vector<std::shared_ptr<Panel>> live;
    for (const auto& weak : order_)
        if (auto panel = weak.lock()) live.push_back(panel);
    std::stable_sort(live.begin(), live.end(), [](const auto& a, const auto& b) { return a->level < b->level; });
    return live;
}

std::vector<std::shared_ptr<Panel>> WindowServer::visiblePanels() const {
    auto live = panels();
    live.erase(std::remove_if(live.begin(), live.end(), [](const auto& p) { return !p->isVisible(); }), live.end());
    return live;
}

BitmapRef WindowServer::renderPanel(const Panel& panel) const { return panel.render(); }

BitmapRef WindowServer::renderScreen(std::size_t index) const {
    if (index >= screens_.size()) return nullptr;
    const Screen& screen = screens_[index];
    CairoCanvas canvas(screen.frame.size, screen.backingScaleFactor);
    canvas.setFillColor(desktopColor);
    canvas.fillPath(Path::rectangle({0, 0, screen.frame.width(), screen.frame.height()}));
    for (const auto& panel : visiblePanels()) {
        const Rect frame = panel->frame();
        canvas.save();
        canvas.translate(frame.minX() - screen.frame.minX(), frame.minY() - screen.frame.minY());
        canvas.clipToRect({0, 0, frame.width(), frame.height()});
        canvas.setAlpha(panel->alphaValue);
        panel->renderContent(canvas);
        canvas.restore();
    }
    return canvas.finish();
}

bool WindowServer::writeScreenPng(const std::filesystem::path& path, std::size_t index) const {
    const BitmapRef bitmap = renderScreen(index);
    return bitmap && bitmap->writePng(path);
}

std::shared_ptr<Panel> WindowServer::panelAt(Point location) const {
    const auto visible = visiblePanels();
    for (auto it = visible.rbegin(); it != visible.rend(); ++it)
        if (contains((*it)->frame(), location)) return *it;
    return nullptr;
}

PointerEvent WindowServer::eventAt(PointerEventType type, const Panel& panel, Point location) const {
    PointerEvent event;
    event.type = type;
    event.locationInWindow = {location.x - panel.frame().minX(), location.y - panel.frame().minY()};
    event.deltaX = location.x - mouseLocation_.x;
    event.deltaY = mouseLocation_.y - location.y;  // positive downwards
    return event;
}

void WindowServer::deliverMove(Point location) {
    const auto top = panelAt(location);
    constexpr double far = -std::numeric_limits<double>::max() / 4;
    for (const auto& panel : visiblePanels()) {
        // Panels not under the pointer see it far away, so they report exits.
        PointerEvent event = eventAt(PointerEventType::moved, *panel, panel == top ? location : Point{far, far});
        panel->sendEvent(event);
    }
}

void WindowServer::movePointer(Point location) {
    deliverMove(location);
    mouseLocation_ = location;
}

void WindowServer::pressLeft(Point location) {
    mouseLocation_ = location;
    const auto panel = panelAt(location);
    pressedPanel_ = panel;
    if (panel) panel->sendEvent(eventAt(PointerEventType::leftDown, *panel, location));
}

void WindowServer::dragLeft(Point location) {
    const auto panel = pressedPanel_.lock();
    if (panel) {
        const PointerEvent event = eventAt(PointerEventType::leftDragged, *panel, location);
        mouseLocation_ = location;
        panel->sendEvent(event);
    }
    mouseLocation_ = location;
}

void WindowServer::releaseLeft(Point location) {
    const auto panel = pressedPanel_.lock();
    pressedPanel_.reset();
    if (panel) {
        const PointerEvent event = eventAt(PointerEventType::leftUp, *panel, location);
        mouseLocation_ = location;
        panel->sendEvent(event);
    }
    mouseLocation_ = location;
}

void WindowServer::pressRight(Point location) {
    mouseLocation_ = location;
    if (const auto panel = panelAt(location)) panel->sendEvent(eventAt(PointerEventType::rightDown, *panel, location));
}

std::unique_ptr<DisplayLink> WindowServer::createDisplayLinkWithActiveDisplays() const {
    if (!displayLinkAvailable_ || screens_.empty()) return nullptr;
    return makeThreadDisplayLink(60);
}

}  // namespace platform
