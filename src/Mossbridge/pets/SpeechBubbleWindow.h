#pragma once
// The speech-bubble companion of a pet: a floating panel that shows what
// the pet says above its pet (tail down) or, when there is no room above,
// below it (tail up), kept inside the visible frame of the pet's screen.
// A message hides itself 3.2 s after it is shown, a notification read out
// after 4.4 s; the player and the calendar bubble stay until hidden or
// replaced. The last show call wins. Panels fade in and out over 0.12 s;
// a fade-out orders the panel out only if nothing was shown since the hide
// that started it. Create with make(); main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/CompanionPanel.h"
#include "Mossbridge/pets/SpeechBubbleView.h"
#include "platform/core/Dispatch.h"

namespace Mossbridge {

class SpeechBubbleWindow final : public std::enable_shared_from_this<SpeechBubbleWindow> {
public:
    using Mode = SpeechBubbleView::Mode;
    using TailEdge = SpeechBubbleView::TailEdge;

    static constexpr double messageDuration = 3.2;
    static constexpr double notificationSpeechDuration = 4.4;

    static std::shared_ptr<SpeechBubbleWindow> make(platform::WindowServer& server, platform::Dispatcher& dispatcher);

    void showMessage(const std::string& text, const platform::Rect& petFrame);
    void showNotificationSpeech(const AppNotificationItem& notification, const platform::Rect& petFrame);
    void showMediaPlayer(const MediaPlaybackInfo& info, const platform::Rect& petFrame);
    void showCalendarEvent(const CalendarEventInfo& event, const platform::Rect& petFrame);
    // Places, fills, orders front and fades in; leaves `mode` and the
    // pending hide to the show operations.
    void present(const Mode& mode, const platform::Rect& petFrame);
    void hideBubble();
    // Moves a shown bubble along with its pet; nothing while hidden.
    void reposition(const platform::Rect& petFrame);
    // Orders the panel out for good (its pet went away).
    void close();

    // The size of the finished bubble for `mode`, at least 1 by 1.
    platform::Size measureBubble(const Mode& mode);
    TailEdge chooseTailEdge(const Mode& mode, const platform::Rect& petFrame);
    // Where the panel goes for `mode` with the current tail edge.
    platform::Rect bubbleFrame(const Mode& mode, const platform::Rect& petFrame);
    // 0.18 of the pet's height, from 18 to 48.
    static double tailLength(const platform::Rect& petFrame);

    const Mode& mode() const { return mode_; }
    TailEdge tailEdge() const { return tailEdge_; }
    bool hasPendingHide() const { return hideTask_ && !hideTask_->isCancelled(); }
    platform::Panel& panel() const { return companion_.panel(); }
    SpeechBubbleView& bubbleView() const { return *bubbleView_; }

    std::function<void(MediaPlaybackCommand)> onMediaCommand;
    std::function<void(CalendarEventCommand)> onCalendarCommand;
    std::function<void()> onNotificationsClear;

private:
    struct ConstructionToken {
        explicit ConstructionToken() = default;
    };

public:
    SpeechBubbleWindow(ConstructionToken, platform::WindowServer& server, platform::Dispatcher& dispatcher);

private:
    void show(Mode mode, const platform::Rect& petFrame);
    void scheduleHide(double delay);
    void cancelHide();
    // Stores the edge for `mode` and rebuilds the view when its edge changed.
    void applyTailEdge(const Mode& mode, const platform::Rect& petFrame);

    std::shared_ptr<SpeechBubbleView> bubbleView_;
    CompanionPanel companion_;
    platform::WorkItemRef hideTask_;
    Mode mode_;
    TailEdge tailEdge_ = TailEdge::bottom;
    // Every presentation and every hide moves it on; a fade-out orders the
    // panel out only while it still holds the hide's value.
    std::uint64_t visibilityGeneration_ = 0;
};

}  // namespace Mossbridge
