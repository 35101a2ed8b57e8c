#include "Mossbridge/pets/PetWindow.h"

#include <algorithm>

namespace Mossbridge {

namespace {

bool containsPoint(const platform::Rect& rect, platform::Point p) {
    return p.x >= rect.minX() && p.x < rect.maxX() && p.y >= rect.minY() && p.y < rect.maxY();
}

// Bubbles that stay until hidden; a message or a notification read out
// keeps its own timer.
bool isPersistentMode(const SpeechBubbleWindow::Mode& mode) {
    using Case = SpeechBubbleWindow::Mode::Case;
    const Case kind = mode.kind();
    return kind == Case::notifications || kind == Case::mediaPlayer || kind == Case::calendarEvent;
}

void cancel(const platform::WorkItemRef& item) {
    if (item) item->cancel();
}

}  // namespace

std::shared_ptr<PetWindow> PetWindow::make(platform::WindowServer& server, platform::Dispatcher& dispatcher,
                                           Contents contents) {
    auto window = std::make_shared<PetWindow>(ConstructionToken{}, server, dispatcher);
    window->configure(std::move(contents));
    return window;
}

PetWindow::PetWindow(ConstructionToken, platform::WindowServer& server, platform::Dispatcher& dispatcher)
    : server_(server), dispatcher_(dispatcher) {}

PetWindow::~PetWindow() {
    cancel(notificationHideTask_);
    cancel(windowPreviewRevealTask_);
    cancel(pendingFrameSaveTask_);
    if (panel_) panel_->onFrameChange = nullptr;
}

void PetWindow::configure(Contents contents) {
    speechWindow_ = SpeechBubbleWindow::make(server_, dispatcher_);
    previewWindow_ = WindowPreviewPanel::make(server_, dispatcher_);
    assignment_ = std::move(contents.assignment);
    status_ = std::move(contents.status);

    MossbridgePreferences preferences;
    preferences.displayBadges = contents.displayBadges;
    preferences.appIconSizeScale = contents.appIconSizeScale;
    petView_ = PetView::make({}, assignment_, status_, preferences, dispatcher_, &server_);
    petView_->animationState = contents.animationState;
    petView_->isFocused = contents.focused;
    petView_->appIcon = contents.appIcon;
    petView_->windowCount = 0;
    if (!contents.focused) petView_->inactiveSince = dispatcher_.clock().now();
    petView_->refreshAppearance();

    panel_ = platform::Panel::make(server_, assignment_.frame.rect());
    panel_->level = floatingLevel;
    panel_->setContentView(petView_);
    petView_->updateTrackingAreas();
    installPartCallbacks();
}

void PetWindow::installPartCallbacks() {
    std::weak_ptr<PetWindow> weak = weak_from_this();
    auto with = [weak](auto action) {
        return [weak, action](auto&&... arguments) {
            if (auto self = weak.lock()) action(*self, std::forward<decltype(arguments)>(arguments)...);
        };
    };
    panel_->onFrameChange = with([](PetWindow& self) { self.frameDidChange(); });
    petView_->onClick = with([](PetWindow& self) {
        if (self.onFocusRequested) self.onFocusRequested(self.assignment_.id, self.assignment_.bundleIdentifier);
    });
    petView_->onContextMenu = with([](PetWindow& self, platform::Point point) { self.contextMenuRequested(point); });
    petView_->onHoverChanged = with([](PetWindow& self, bool hovering) { self.petHoverChanged(hovering); });
    petView_->onInteractionChanged =
        with([](PetWindow& self, bool interacting) { self.userInteractionChanged(interacting); });
    speechWindow_->bubbleView().onHoverChanged =
        with([](PetWindow& self, bool hovering) { self.companionHoverChanged(Companion::speech, hovering); });
    speechWindow_->onMediaCommand = with([](PetWindow& self, MediaPlaybackCommand command) {
        if (self.onMediaCommandRequested) self.onMediaCommandRequested(self.assignment_.bundleIdentifier, command);
    });
    speechWindow_->onCalendarCommand = with([](PetWindow& self, CalendarEventCommand command) {
        if (self.onCalendarCommandRequested) self.onCalendarCommandRequested(command);
    });
    speechWindow_->onNotificationsClear = with([](PetWindow& self) { self.clearNotifications(); });
    previewWindow_->onHoverChanged =
        with([](PetWindow& self, bool hovering) { self.companionHoverChanged(Companion::preview, hovering); });
    previewWindow_->onWindowSelected = with([](PetWindow& self, int index) {
        if (self.onWindowFocusRequested)
            self.onWindowFocusRequested(self.assignment_.id, self.assignment_.bundleIdentifier, index);
    });
}

platform::WorkItemRef PetWindow::schedule(double delay, std::function<void(PetWindow&)> action) {
    std::weak_ptr<PetWindow> weak = weak_from_this();
    auto queue = dispatcher_.mainQueue();
    auto handle = std::make_shared<std::weak_ptr<platform::WorkItem>>();
    auto item = std::make_shared<platform::WorkItem>([weak, queue, handle, action] {
        // The action runs on a later turn of the main loop; cancelling the
        // item in between still stops it.
        queue->async([weak, handle, action] {
            auto pending = handle->lock();
            if (!pending || pending->isCancelled()) return;
            if (auto self = weak.lock()) action(*self);
        });
    });
    *handle = item;
    queue->after(delay, item);
    return item;
}

// --- Update ---

void PetWindow::update(Contents contents) {
    const std::optional<std::string> oldActivityText = status_.activityText;
    assignment_ = std::move(contents.assignment);
    status_ = std::move(contents.status);

    if (isUserInteracting_) {
        // The store has not seen the drag yet: its frame is where the pet
        // was, not where it is. Keeping it would move the pet back at the
        // flush that ends the drag.
        assignment_.frame = CodableRect(panel_->frame());
    } else if (panel_->frame() != assignment_.frame.rect()) {
        isApplyingStoredFrame_ = true;
        setFrame(assignment_.frame.rect(), true);
        isApplyingStoredFrame_ = false;
    }

    PetView& view = *petView_;
    const bool unchanged = view.assignment == assignment_ && view.windowCount == 0 && view.status == status_ &&
                           view.animationState == contents.animationState &&
                           view.appIconSizeScale == contents.appIconSizeScale &&
                           view.displayBadges == contents.displayBadges && view.appIcon == contents.appIcon;
    const bool wasFocused = view.isFocused;
    view.assignment = assignment_;
    view.windowCount = 0;
    view.status = status_;
    view.animationState = contents.animationState;
    view.appIconSizeScale = contents.appIconSizeScale;
    view.displayBadges = contents.displayBadges;
    view.appIcon = contents.appIcon;
    if (contents.focused) view.inactiveSince.reset();
    else if (wasFocused || !view.inactiveSince) view.inactiveSince = dispatcher_.clock().now();
    view.isFocused = contents.focused;
    if (!unchanged) view.refreshAppearance();

    if (status_.newNotification) {
        // The coordinator syncs its cached statuses again before the next
        // refresh replaces them, so one notification can arrive here more
        // than once: only its first arrival is read out.
        const AnnouncedNotification arrived{assignment_.bundleIdentifier, status_.newNotification->recordID};
        if (announcedNotification_ != arrived) {
            announcedNotification_ = arrived;
            view.showBubbleMessage();
            speechWindow_->showNotificationSpeech(*status_.newNotification, frame());
        }
        return;
    }
    const auto& activity = status_.activityText;
    if (!status_.mediaPlayback && activity && !activity->empty() && activity != oldActivityText) {
        view.showBubbleMessage();
        speechWindow_->showMessage(*activity, frame());
    }
    if (view.isHovering()) {
        isPetHovering_ = true;
        cancel(notificationHideTask_);
        scheduleWindowPreviewReveal();
    }
}

// --- Showing and hiding ---

void PetWindow::orderFrontRegardless() {
    if (closed_) return;
    panel_->orderFront();
    petView_->startAnimating();  // registers once
}

void PetWindow::orderOut() {
    flushPendingFrameSave();
    petView_->stopAnimating();
    panel_->orderOut();
}

void PetWindow::close() {
    if (closed_) return;
    flushPendingFrameSave();
    cancel(windowPreviewRevealTask_);
    windowPreviewRevealTask_.reset();
    cancel(notificationHideTask_);
    if (contextMenu_) contextMenu_->cancelTracking();
    speechWindow_->close();
    previewWindow_->close();
    petView_->stopAnimating();
    panel_->orderOut();
    closed_ = true;
}

// --- Frame tracking ---

void PetWindow::setFrame(const platform::Rect& newFrame, bool display) { panel_->setFrame(newFrame, display); }

void PetWindow::frameDidChange() {
    const platform::Rect current = panel_->frame();
    assignment_.frame = CodableRect(current);
    scheduleFrameSave(current);
    speechWindow_->reposition(current);
    placePreviewPanel();
}

void PetWindow::scheduleFrameSave(const platform::Rect& savedFrame) {
    if (isApplyingStoredFrame_) return;
    cancel(pendingFrameSaveTask_);
    pendingFrameSaveTask_ = schedule(frameSaveDelay, [savedFrame](PetWindow& self) {
        self.pendingFrameSaveTask_.reset();
        if (self.onMoved) self.onMoved(self.assignment_.id, savedFrame);
    });
}

void PetWindow::flushPendingFrameSave() {
    if (!pendingFrameSaveTask_) return;
    pendingFrameSaveTask_->cancel();
    pendingFrameSaveTask_.reset();
    if (onMoved) onMoved(assignment_.id, assignment_.frame.rect());
}

// --- Hover and companions ---

bool PetWindow::isCompanionShown(const platform::Panel& companion) const {
    return companion.isVisible() && companion.alphaValue > visibleAlpha;
}

std::optional<platform::Rect> PetWindow::visibleBubbleFrame() const {
    const platform::Panel& bubble = speechWindow_->panel();
    if (!bubble.isVisible()) return std::nullopt;
    return bubble.frame();
}

void PetWindow::placePreviewPanel() {
    platform::Panel& previews = previewWindow_->panel();
    if (!isCompanionShown(previews) || previewWindow_->previews().empty()) return;
    previews.setFrame(previewWindow_->panelFrame(previewWindow_->previews(), frame(), visibleBubbleFrame()), true);
}

void PetWindow::refreshHoverStates() {
    const platform::Point mouse = server_.mouseLocation();
    isPetHovering_ = containsPoint(frame(), mouse);
    const platform::Panel& bubble = speechWindow_->panel();
    isSpeechHovering_ = isCompanionShown(bubble) && containsPoint(bubble.frame(), mouse);
    const platform::Panel& previews = previewWindow_->panel();
    isPreviewHovering_ = isCompanionShown(previews) && containsPoint(previews.frame(), mouse);
}

void PetWindow::petHoverChanged(bool hovering) {
    isPetHovering_ = hovering;
    if (hovering) {
        cancel(notificationHideTask_);
        scheduleWindowPreviewReveal();
        return;
    }
    cancel(windowPreviewRevealTask_);
    windowPreviewRevealTask_.reset();
    scheduleCompanionHide();
}

void PetWindow::scheduleWindowPreviewReveal() {
    if (isUserInteracting_) {
        cancel(windowPreviewRevealTask_);
        windowPreviewRevealTask_.reset();
        return;
    }
    if (isCompanionShown(previewWindow_->panel())) {
        placePreviewPanel();
        return;
    }
    if (windowPreviewRevealTask_) return;
    windowPreviewRevealTask_ = schedule(previewRevealDelay, [](PetWindow& self) {
        self.windowPreviewRevealTask_.reset();
        self.refreshHoverStates();
        // An open context menu holds the pointer, as a press does.
        const bool menuOpen = self.contextMenu_ && self.contextMenu_->isOpen();
        if (!self.isPetHovering_ || self.isUserInteracting_ || menuOpen) return;
        self.refreshPersistentBubble();
        self.showWindowPreviews();
    });
}

void PetWindow::scheduleCompanionHide() {
    cancel(notificationHideTask_);
    cancel(windowPreviewRevealTask_);
    notificationHideTask_ = schedule(companionHideDelay, [](PetWindow& self) {
        self.notificationHideTask_.reset();
        self.refreshHoverStates();
        if (self.isPetHovering_ || self.isSpeechHovering_ || self.isPreviewHovering_) return;
        if (isPersistentMode(self.speechWindow_->mode())) self.speechWindow_->hideBubble();
        self.previewWindow_->hidePanel();
    });
}

void PetWindow::companionHoverChanged(Companion companion, bool hovering) {
    (companion == Companion::speech ? isSpeechHovering_ : isPreviewHovering_) = hovering;
    if (hovering) cancel(notificationHideTask_);
    else scheduleCompanionHide();
}

void PetWindow::userInteractionChanged(bool interacting) {
    if (interacting) {
        isUserInteracting_ = true;
        cancel(windowPreviewRevealTask_);
        windowPreviewRevealTask_.reset();
        previewWindow_->hidePanel();
        return;
    }
    const bool wasInteracting = isUserInteracting_;
    isUserInteracting_ = false;
    flushPendingFrameSave();
    refreshHoverStates();
    if (wasInteracting && isPetHovering_) scheduleWindowPreviewReveal();
}

void PetWindow::refreshPersistentBubble() {
    cancel(notificationHideTask_);
    if (status_.mediaPlayback && status_.mediaPlayback->state != MediaPlaybackState::stopped) {
        petView_->showBubbleMessage();
        speechWindow_->showMediaPlayer(*status_.mediaPlayback, frame());
    } else if (status_.calendarEvent) {
        petView_->showBubbleMessage();
        speechWindow_->showCalendarEvent(*status_.calendarEvent, frame());
    }
    placePreviewPanel();
}

void PetWindow::showWindowPreviews() {
    std::vector<AppWindowPreviewInfo> previews;
    if (onWindowPreviewsRequested) previews = onWindowPreviewsRequested(assignment_.bundleIdentifier);
    if (previews.empty()) {
        previewWindow_->hidePanel();
        return;
    }
    previewWindow_->show(std::move(previews), frame(), visibleBubbleFrame());
}

void PetWindow::clearNotifications() {
    if (!status_.notifications.empty()) {
        std::int64_t largest = status_.notifications.front().recordID;
        for (const auto& item : status_.notifications) largest = std::max(largest, item.recordID);
        status_.notifications.clear();
        status_.newNotification.reset();
        if (onNotificationsClearRequested) onNotificationsClearRequested(assignment_.bundleIdentifier, largest);
    }
    if (isPersistentMode(speechWindow_->mode())) speechWindow_->hideBubble();
}

}  // namespace Mossbridge
