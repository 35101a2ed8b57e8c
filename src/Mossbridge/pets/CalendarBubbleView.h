#pragma once
// The next-event bubble: when the event starts, its title (two lines at
// most), its time and place, and an "Open Calendar" button whose click is
// handed to `onCommand`. The texts are worked out when the bubble is built.

#include <functional>
#include <memory>
#include <string>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/BubbleLabel.h"
#include "Mossbridge/pets/ClosureButton.h"
#include "Mossbridge/pets/TailBubbleView.h"

namespace Mossbridge {

// A wall-clock time in the short time style of the user's locale and zone.
std::string shortTimeText(double date);

class CalendarBubbleView final : public TailBubbleView {
public:
    static constexpr double width = 300;

    // `now` is the wall-clock time the start text is worked out against.
    static std::shared_ptr<CalendarBubbleView> make(const CalendarEventInfo& event, bool showsTail,
                                                    BubbleTailEdge tailEdge, double now,
                                                    std::function<void(CalendarEventCommand)> onCommand);
    CalendarBubbleView(bool showsTail, BubbleTailEdge tailEdge, std::function<void(CalendarEventCommand)> onCommand);

    // "Now" while the event runs, "Starting now" within the next minute or
    // so, else "In <m> min".
    static std::string relativeStartText(const CalendarEventInfo& event, double now);
    // "<start>-<end>", then " - " and the location and calendar title (each
    // when present and not empty) joined with " - ".
    static std::string timeRangeText(const CalendarEventInfo& event);

    void openCalendar() const;

    const BubbleLabel& startLabel() const { return *start_; }
    const BubbleLabel& titleLabel() const { return *title_; }
    const BubbleLabel& timeLabel() const { return *time_; }
    const std::shared_ptr<ClosureButton>& openButton() const { return button_; }

protected:
    platform::Size contentFittingSize() const override;
    void layoutContent(platform::Size size) override;

private:
    std::function<void(CalendarEventCommand)> onCommand_;
    std::shared_ptr<BubbleLabel> start_, title_, time_;
    std::shared_ptr<ClosureButton> button_;
};

}  // namespace Mossbridge
