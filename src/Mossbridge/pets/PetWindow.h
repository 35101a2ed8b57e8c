#pragma once
// PetWindow: the small floating panel in which one pet lives beside its
// application. It owns the pet's view and its two companions (the speech
// bubble and the window-preview row), keeps them placed when the pet moves,
// shows and hides the companions as the pointer moves over the pet, stores
// the pet's frame back into its assignment (saved 0.16 s after the last
// move, and at once on every way out: order-out, close, end of a press),
// speaks new notifications and activity texts, pops up the context menu,
// and turns the events of its parts into the callbacks the pet controller
// installs.
//
// The panel is borderless, never key or main, at the floating level. A
// frame change from anywhere (the view dragging it, setFrame()) goes
// through the same tracking. While the user presses, drags or resizes the
// pet, the assignment's frame follows the panel and an update from a sync
// never moves the panel back.
//
// Main thread only; create with make(). Delayed work runs on the main
// queue and holds the window weakly.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppAssignment.h"
#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/model/PetAnimationState.h"
#include "Mossbridge/pets/PetView.h"
#include "Mossbridge/pets/SpeechBubbleWindow.h"
#include "Mossbridge/pets/WindowPreviewPanel.h"
#include "platform/core/Dispatch.h"
#include "platform/core/Uuid.h"
#include "platform/drawing/Image.h"
#include "platform/drawing/Menu.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

class PetWindow final : public std::enable_shared_from_this<PetWindow> {
public:
    static constexpr double frameSaveDelay = 0.16;
    static constexpr double previewRevealDelay = 1.0;
    static constexpr double companionHideDelay = 0.35;
    static constexpr int floatingLevel = 3;
    // A companion below this alpha counts as hidden.
    static constexpr double visibleAlpha = 0.05;
    // The smallest height the context menu is assumed to take on screen.
    static constexpr double contextMenuMinimumHeight = 220;
    static constexpr double contextMenuScreenMargin = 12;

    // What a sync hands a pet window, at creation and at every update.
    struct Contents {
        AppAssignment assignment;
        AppStatus status;
        PetAnimationState animationState = PetAnimationState::idle;
        bool focused = false;  // the application is frontmost
        bool displayBadges = true;
        platform::ImageRef appIcon;
        double appIconSizeScale = 1;
    };

    static std::shared_ptr<PetWindow> make(platform::WindowServer& server, platform::Dispatcher& dispatcher,
                                           Contents contents);
    ~PetWindow();
    PetWindow(const PetWindow&) = delete;
    PetWindow& operator=(const PetWindow&) = delete;

    void update(Contents contents);

    // --- The panel ---
    // Shows the panel and registers the view with the animation clock once.
    void orderFrontRegardless();
    // Flushes a pending frame save, unregisters the view, hides the panel.
    void orderOut();
    // Flushes a pending frame save, cancels the preview reveal, closes both
    // companions and the panel. The window is not used again.
    void close();
    void setFrame(const platform::Rect& frame, bool display);
    platform::Rect frame() const { return panel_->frame(); }
    bool isVisible() const { return panel_->isVisible(); }
    bool isClosed() const { return closed_; }
    bool canBecomeKeyWindow() const { return false; }
    bool canBecomeMainWindow() const { return false; }

    platform::Panel& panel() const { return *panel_; }
    PetView& petView() const { return *petView_; }
    SpeechBubbleWindow& speechWindow() const { return *speechWindow_; }
    WindowPreviewPanel& previewWindow() const { return *previewWindow_; }
    const AppAssignment& assignment() const { return assignment_; }
    const AppStatus& status() const { return status_; }

    bool isPetHovering() const { return isPetHovering_; }
    bool isSpeechHovering() const { return isSpeechHovering_; }
    bool isPreviewHovering() const { return isPreviewHovering_; }
    bool isUserInteracting() const { return isUserInteracting_; }
    bool hasPendingFrameSave() const { return pendingFrameSaveTask_ != nullptr; }
    bool hasPendingPreviewReveal() const { return windowPreviewRevealTask_ && !windowPreviewRevealTask_->isCancelled(); }
    bool hasPendingCompanionHide() const { return notificationHideTask_ && !notificationHideTask_->isCancelled(); }

    // --- Callbacks, installed by the pet controller ---
    std::function<void(const platform::Uuid& id, const platform::Rect& frame)> onMoved;
    std::function<void(const platform::Uuid& id, const std::string& bundleIdentifier)> onFocusRequested;
    std::function<void(const platform::Uuid& id, const std::string& bundleIdentifier, int index)>
        onWindowFocusRequested;
    std::function<AppContextMenuInfo(const std::string& bundleIdentifier)> onContextMenuInfoRequested;
    std::function<std::vector<AppWindowPreviewInfo>(const std::string& bundleIdentifier)> onWindowPreviewsRequested;
    std::function<void()> onAccessibilityAccessRequested;
    std::function<void(const platform::Uuid& id)> onClosePetRequested;
    std::function<void(const platform::Uuid& id, const std::string& bundleIdentifier)> onQuitAppRequested;
    std::function<void(const std::string& bundleIdentifier, MediaPlaybackCommand command)> onMediaCommandRequested;
    std::function<void(CalendarEventCommand command)> onCalendarCommandRequested;
    std::function<void(const std::string& bundleIdentifier, std::int64_t recordID)> onNotificationsClearRequested;

    // --- Frame tracking ---
    void scheduleFrameSave(const platform::Rect& frame);
    void flushPendingFrameSave();

    // --- Hover and companions ---
    void refreshHoverStates();
    void petHoverChanged(bool hovering);
    void scheduleWindowPreviewReveal();
    void scheduleCompanionHide();
    enum class Companion { speech, preview };
    void companionHoverChanged(Companion companion, bool hovering);
    void userInteractionChanged(bool interacting);
    void refreshPersistentBubble();
    void showWindowPreviews();
    void clearNotifications();

    // --- Context menu (PetContextMenu.cpp) ---
    // Hides the previews, logs "pet_right_click" and pops the menu up.
    void contextMenuRequested(platform::Point pointInView);
    void showContextMenu(platform::Point pointInView);
    // The menu as it would open now.
    std::shared_ptr<platform::Menu> makeContextMenu();
    void contextMenuWindowsSection(platform::Menu& menu);
    // Where the menu opens, in the pet view's coordinates.
    platform::Point contextMenuOrigin(platform::Menu& menu, platform::Point pointInView) const;
    // The menu opened last (open or already closed), if any.
    const std::shared_ptr<platform::Menu>& contextMenu() const { return contextMenu_; }

    void closePetFromMenu();
    void quitAppFromMenu();
    void focusWindowFromMenu(const platform::MenuItem& sender);
    void requestAccessibilityFromMenu();

private:
    struct ConstructionToken {
        explicit ConstructionToken() = default;
    };

public:
    PetWindow(ConstructionToken, platform::WindowServer& server, platform::Dispatcher& dispatcher);

private:
    void configure(Contents contents);
    void installPartCallbacks();
    void frameDidChange();
    void placePreviewPanel();
    std::optional<platform::Rect> visibleBubbleFrame() const;
    bool isCompanionShown(const platform::Panel& panel) const;
    // Runs `action` on the window `delay` seconds from now, unless cancelled
    // or the window is gone by then.
    platform::WorkItemRef schedule(double delay, std::function<void(PetWindow&)> action);

    platform::WindowServer& server_;
    platform::Dispatcher& dispatcher_;
    std::shared_ptr<platform::Panel> panel_;
    std::shared_ptr<PetView> petView_;
    std::shared_ptr<SpeechBubbleWindow> speechWindow_;
    std::shared_ptr<WindowPreviewPanel> previewWindow_;
    AppAssignment assignment_;
    AppStatus status_;
    // The last notification read out, by app and record, so that a status
    // synced again does not read it out a second time.
    struct AnnouncedNotification {
        std::string bundleIdentifier;
        std::int64_t recordID = 0;
        bool operator==(const AnnouncedNotification&) const = default;
    };
    std::optional<AnnouncedNotification> announcedNotification_;

    bool isPetHovering_ = false;
    bool isSpeechHovering_ = false;
    bool isPreviewHovering_ = false;
    platform::WorkItemRef notificationHideTask_;
    platform::WorkItemRef windowPreviewRevealTask_;
    platform::WorkItemRef pendingFrameSaveTask_;
    bool isApplyingStoredFrame_ = false;
    bool isUserInteracting_ = false;
    bool closed_ = false;
    std::shared_ptr<platform::Menu> contextMenu_;
};

}  // namespace Mossbridge
