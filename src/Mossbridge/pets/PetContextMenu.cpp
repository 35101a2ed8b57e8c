// The pet's context menu: three information lines about the application,
// its windows (each item raises one), a way to ask for Accessibility access
// when it is missing, "Close Pet" and a quit item. Built afresh on every
// request; its actions only call the pet window's callbacks.

#include <algorithm>
#include <cstdint>
#include <limits>

#include "Mossbridge/model/UsageEvents.h"
#include "Mossbridge/pets/PetWindow.h"

namespace Mossbridge {

namespace {

std::string readable(const std::optional<std::string>& text) {
    return text && !text->empty() ? *text : std::string("not readable");
}

void addInformation(platform::Menu& menu, std::string title) {
    platform::MenuItem& item = menu.addItem(std::move(title));
    item.enabled = false;
}

double intersectionArea(const platform::Rect& a, const platform::Rect& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return (w > 0 && h > 0) ? w * h : 0;
}

}  // namespace

void PetWindow::contextMenuRequested(platform::Point pointInView) {
    if (closed_) return;
    if (windowPreviewRevealTask_) windowPreviewRevealTask_->cancel();
    windowPreviewRevealTask_.reset();
    previewWindow_->hidePanel();
    logUsageEvent("pet_right_click", analyticsParameters(assignment_, APMParameters{}));
    showContextMenu(pointInView);
}

std::shared_ptr<platform::Menu> PetWindow::makeContextMenu() {
    auto menu = platform::Menu::make();
    addInformation(*menu, "Badge: " + readable(status_.badgeText));
    addInformation(*menu, "Status: " + readable(status_.activityText));
    menu->addSeparator();
    contextMenuWindowsSection(*menu);
    menu->addSeparator();
    std::weak_ptr<PetWindow> weak = weak_from_this();
    menu->addItem("Close Pet", [weak](platform::MenuItem&) {
        if (auto self = weak.lock()) self->closePetFromMenu();
    });
    menu->addItem("Quit " + assignment_.appName, [weak](platform::MenuItem&) {
        if (auto self = weak.lock()) self->quitAppFromMenu();
    });
    return menu;
}

void PetWindow::contextMenuWindowsSection(platform::Menu& menu) {
    if (!onContextMenuInfoRequested) {
        addInformation(menu, "App menu unavailable");
        return;
    }
    const AppContextMenuInfo info = onContextMenuInfoRequested(assignment_.bundleIdentifier);
    addInformation(menu, "Windows");
    std::weak_ptr<PetWindow> weak = weak_from_this();
    for (const AppWindowInfo& window : info.windows) {
        platform::MenuItem& item = menu.addItem(window.title, [weak](platform::MenuItem& sender) {
            if (auto self = weak.lock()) self->focusWindowFromMenu(sender);
        });
        item.representedObject = platform::PropertyValue(static_cast<long long>(window.index));
    }
    if (info.windows.empty()) addInformation(menu, "No windows found");
    if (!info.accessibilityTrusted) {
        menu.addItem("Grant Accessibility Access...", [weak](platform::MenuItem&) {
            if (auto self = weak.lock()) self->requestAccessibilityFromMenu();
        });
    } else if (info.message && !info.message->empty() && info.windows.empty()) {
        addInformation(menu, *info.message);
    }
}

platform::Point PetWindow::contextMenuOrigin(platform::Menu& menu, platform::Point pointInView) const {
    menu.update();
    const platform::Rect panelFrame = frame();
    std::optional<platform::Screen> screen = server_.screenContaining(panelFrame);
    if (!screen) {
        for (const platform::Screen& candidate : server_.screens()) {
            if (intersectionArea(candidate.visibleFrame, panelFrame) > 0) {
                screen = candidate;
                break;
            }
        }
    }
    if (!screen) return pointInView;
    // The pet view fills the panel, so its points are the panel's.
    const double screenY = panelFrame.minY() + pointInView.y;
    const double h = std::max(menu.size().height, contextMenuMinimumHeight);
    platform::Point origin = pointInView;
    if (screenY - h < screen->visibleFrame.minY() + contextMenuScreenMargin) origin.y += h;
    return origin;
}

void PetWindow::showContextMenu(platform::Point pointInView) {
    auto menu = makeContextMenu();
    const platform::Point origin = contextMenuOrigin(*menu, pointInView);
    if (contextMenu_) contextMenu_->cancelTracking();
    contextMenu_ = menu;
    std::weak_ptr<PetWindow> weak = weak_from_this();
    menu->onClose = [weak] {
        // The pointer is free again: a pet still under it may reveal.
        auto self = weak.lock();
        if (!self || self->closed_) return;
        self->refreshHoverStates();
        if (self->isPetHovering_) self->scheduleWindowPreviewReveal();
    };
    (void)menu->popUp(nullptr, origin, *petView_);  // false only for a view outside any window
}

void PetWindow::closePetFromMenu() {
    if (onClosePetRequested) onClosePetRequested(assignment_.id);
}

void PetWindow::quitAppFromMenu() {
    if (onQuitAppRequested) onQuitAppRequested(assignment_.id, assignment_.bundleIdentifier);
}

void PetWindow::focusWindowFromMenu(const platform::MenuItem& sender) {
    const auto& object = sender.representedObject;
    if (!object || object->kind() != platform::PropertyValue::Kind::Integer) return;
    const std::int64_t index = *object->asInteger();
    if (index < std::numeric_limits<int>::min() || index > std::numeric_limits<int>::max()) return;
    if (onWindowFocusRequested)
        onWindowFocusRequested(assignment_.id, assignment_.bundleIdentifier, static_cast<int>(index));
}

void PetWindow::requestAccessibilityFromMenu() {
    if (onAccessibilityAccessRequested) onAccessibilityAccessRequested();
}

}  // namespace Mossbridge
