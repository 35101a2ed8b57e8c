// Pointer input on a pet: move and resize by dragging (the view sets its
// window's frame itself), click, long press and right press for the context
// menu, and hover. What these mean is decided by the callbacks' owner.

#include <cmath>
#include <cstdio>
#include <string>

#include "Mossbridge/pets/PetView.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

namespace {

constexpr double resizeSquareSide = 18;
constexpr double longPressSeconds = 0.55;
constexpr double dragThreshold = 0.5;
constexpr double clickRadius = 5.0;
constexpr double smallestScale = 0.55;
constexpr double largestScale = 2.4;
constexpr unsigned trackingOptions = platform::TrackingOptions::mouseEnteredAndExited |
                                     platform::TrackingOptions::mouseMoved | platform::TrackingOptions::activeAlways |
                                     platform::TrackingOptions::inVisibleRect;  // 643

bool inResizeSquare(const platform::Rect& bounds, platform::Point p) {
    const platform::Rect square{bounds.maxX() - resizeSquareSide, bounds.minY(), resizeSquareSide, resizeSquareSide};
    return p.x >= square.minX() && p.x < square.maxX() && p.y >= square.minY() && p.y < square.maxY();
}

}  // namespace

void PetView::mouseDown(const platform::PointerEvent& event) {
    const platform::Panel* panel = window();
    mouseDownPoint_ = convertFromWindow(event.locationInWindow);
    dragStartMouseLocation_ = panel ? std::optional(panel->server().mouseLocation()) : std::nullopt;
    dragStartFrame_ = panel ? std::optional(panel->frame()) : std::nullopt;
    dragMode_ = inResizeSquare(bounds(), *mouseDownPoint_) ? DragMode::resize : DragMode::move;
    didDrag_ = false;
    didOpenLongPressMenu_ = false;
    if (longPressTask_) longPressTask_->cancel();

    if (onInteractionChanged) onInteractionChanged(true);
    stopAnimating();  // the pet holds still while pressed

    if (dragMode_ != DragMode::move) return;
    longPressTask_ = std::make_shared<platform::WorkItem>([weak = weakSelf(), point = *mouseDownPoint_] {
        auto self = weak.lock();
        if (!self || self->didDrag_) return;
        self->didOpenLongPressMenu_ = true;
        if (self->onContextMenu) self->onContextMenu(point);
    });
    dispatcher_.mainQueue()->after(longPressSeconds, longPressTask_);
}

void PetView::mouseDragged(const platform::PointerEvent& event) {
    platform::Panel* panel = window();
    if (!panel) return;
    if (std::abs(event.deltaX) > dragThreshold || std::abs(event.deltaY) > dragThreshold) {
        didDrag_ = true;
        if (longPressTask_) longPressTask_->cancel();
    }
    const platform::Point pointer = panel->server().mouseLocation();
    platform::Rect frame = panel->frame();
    if (dragMode_ == DragMode::resize) {
        frame = resizedFrame(pointer);
    } else if (dragStartMouseLocation_ && dragStartFrame_) {
        frame.origin = {dragStartFrame_->origin.x + pointer.x - dragStartMouseLocation_->x,
                        dragStartFrame_->origin.y + pointer.y - dragStartMouseLocation_->y};
        frame.size = dragStartFrame_->size;
    }
    panel->setFrame(frame, true);
}

platform::Rect PetView::resizedFrame(platform::Point pointer) const {
    if (!dragStartMouseLocation_ || !dragStartFrame_) return window() ? window()->frame() : platform::Rect{};
    const platform::Rect& start = *dragStartFrame_;
    const double proposedWidth = start.size.width + (pointer.x - dragStartMouseLocation_->x);
    const double proposedHeight = start.size.height + (dragStartMouseLocation_->y - pointer.y);  // down heightens
    const double scale = std::max(proposedWidth / basePetWidth, proposedHeight / basePetHeight);
    // A scale that is not a number falls to the smallest size too.
    const double height = scale > smallestScale ? std::min(scale, largestScale) * basePetHeight
                                                : smallestScale * basePetHeight;
    const double width = height * (basePetWidth / basePetHeight);
    return {start.origin, {width, height}};  // the bottom-left corner stays put
}

void PetView::mouseUp(const platform::PointerEvent& event) {
    if (longPressTask_) longPressTask_->cancel();
    if (!didOpenLongPressMenu_ && !didDrag_) {
        if (!mouseDownPoint_) {
            if (onClick) onClick();
        } else {
            const platform::Point release = convertFromWindow(event.locationInWindow);
            const double distance = std::hypot(release.x - mouseDownPoint_->x, release.y - mouseDownPoint_->y);
            if (distance < clickRadius) {
                const std::string line = "Mossbridge: pet clicked for " + assignment.appName + "\n";
                std::fwrite(line.data(), 1, line.size(), stdout);
                if (onClick) onClick();
            }
        }
    }
    endPress();
}

void PetView::endPress() {
    mouseDownPoint_.reset();
    dragStartMouseLocation_.reset();
    dragStartFrame_.reset();
    dragMode_.reset();
    didDrag_ = false;
    didOpenLongPressMenu_ = false;
    if (onInteractionChanged) onInteractionChanged(false);
    const platform::Panel* panel = window();
    if (panel && panel->isVisible()) startAnimating();
}

void PetView::rightMouseDown(const platform::PointerEvent& event) {
    if (longPressTask_) longPressTask_->cancel();
    didOpenLongPressMenu_ = true;
    if (onInteractionChanged) onInteractionChanged(true);
    if (onContextMenu) onContextMenu(convertFromWindow(event.locationInWindow));
    if (onInteractionChanged) onInteractionChanged(false);
}

void PetView::updateTrackingAreas() {
    View::updateTrackingAreas();
    removeAllTrackingAreas();
    addTrackingArea({bounds(), trackingOptions});
}

void PetView::mouseEntered(const platform::PointerEvent&) {
    isHovering_ = true;
    if (onHoverChanged) onHoverChanged(true);
    refreshAppearance();
}

void PetView::mouseExited(const platform::PointerEvent&) {
    isHovering_ = false;
    if (onHoverChanged) onHoverChanged(false);
    refreshAppearance();
}

void PetView::mouseMoved(const platform::PointerEvent& event) {
    if (platform::Panel* panel = window()) {
        const bool resize = inResizeSquare(bounds(), convertFromWindow(event.locationInWindow));
        panel->server().setCursor(resize ? platform::Cursor::resizeLeftRight : platform::Cursor::arrow);
    }
    if (isHovering_) return;
    isHovering_ = true;
    if (onHoverChanged) onHoverChanged(true);
    refreshAppearance();
}

}  // namespace Mossbridge
