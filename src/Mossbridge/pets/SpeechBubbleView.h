#pragma once
// The content of a speech-bubble panel: its mode (what the pet says) turned
// into one vertical stack of bubble views, 5 points inside the view's edges
// (11 at the bottom), 3 apart, aligned on their leading edges. Setting a
// different mode rebuilds the stack; setting an equal one does nothing.
// Button clicks come out through the callbacks, which the buttons reach
// holding this view weakly; `onHoverChanged` reports the pointer entering
// or moving over the view (true) and leaving it (false). Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/MessageBubbleView.h"
#include "Mossbridge/pets/TailBubbleView.h"
#include "platform/core/Dispatch.h"
#include "platform/drawing/View.h"

namespace Mossbridge {

class SpeechBubbleView final : public platform::View {
public:
    using TailEdge = BubbleTailEdge;

    // What the panel shows; equal when the case and every payload field are.
    class Mode {
    public:
        enum class Case { message, notificationSpeech, notifications, mediaPlayer, calendarEvent, hidden };

        Mode() : payload_(std::monostate{}) {}
        static Mode message(std::string text) { return Mode(Payload(std::in_place_index<0>, std::move(text))); }
        static Mode notificationSpeech(NotificationSpeechMessage message) { return Mode(Payload(std::move(message))); }
        static Mode notifications(std::vector<AppNotificationItem> items) { return Mode(Payload(std::move(items))); }
        static Mode mediaPlayer(MediaPlaybackInfo info) { return Mode(Payload(std::move(info))); }
        static Mode calendarEvent(CalendarEventInfo event) { return Mode(Payload(std::move(event))); }
        static Mode hidden() { return Mode(); }

        Case kind() const { return static_cast<Case>(payload_.index()); }
        // The payload of that type, or null when the mode holds another case.
        template <typename T>
        const T* payload() const { return std::get_if<T>(&payload_); }

        bool operator==(const Mode&) const = default;

    private:
        // In the order of Case.
        using Payload = std::variant<std::string, NotificationSpeechMessage, std::vector<AppNotificationItem>,
                                     MediaPlaybackInfo, CalendarEventInfo, std::monostate>;
        explicit Mode(Payload payload) : payload_(std::move(payload)) {}
        Payload payload_;
    };

    static constexpr std::size_t maximumNotifications = 3;

    static std::shared_ptr<SpeechBubbleView> make(const platform::Rect& frame, platform::Dispatcher& dispatcher);
    SpeechBubbleView(const platform::Rect& frame, platform::Dispatcher& dispatcher);

    const Mode& mode() const { return mode_; }
    void setMode(Mode mode);
    TailEdge tailEdge = TailEdge::bottom;
    // Whether a message bubble built now types its text in.
    bool animatesMessageReveal = false;

    std::function<void(bool)> onHoverChanged;
    std::function<void(MediaPlaybackCommand)> onMediaCommand;
    std::function<void(CalendarEventCommand)> onCalendarCommand;
    std::function<void()> onNotificationsClear;

    // Empties the stack and fills it afresh for the current mode.
    void rebuildContent();
    const std::vector<std::shared_ptr<platform::View>>& arrangedSubviews() const { return arranged_; }
    // The smallest size that holds the stack and its insets.
    platform::Size fittingSize() const;

    void layout() override;
    void updateTrackingAreas() override;
    void mouseEntered(const platform::PointerEvent& event) override;
    void mouseMoved(const platform::PointerEvent& event) override;
    void mouseExited(const platform::PointerEvent& event) override;

private:
    std::weak_ptr<SpeechBubbleView> weakSelf();
    void addArranged(std::shared_ptr<platform::View> view, platform::Size size);
    void addNotifications(const std::vector<AppNotificationItem>& items);
    void reportHover(bool hovering) const;

    platform::Dispatcher& dispatcher_;
    Mode mode_;
    std::shared_ptr<platform::View> stack_;
    std::vector<std::shared_ptr<platform::View>> arranged_;
    std::vector<platform::Size> arrangedSizes_;
};

}  // namespace Mossbridge
