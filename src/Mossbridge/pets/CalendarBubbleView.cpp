#include "Mossbridge/pets/CalendarBubbleView.h"

#include <unicode/datefmt.h>

#include <cmath>
#include <memory>

#include "Mossbridge/pets/BubbleColors.h"

namespace Mossbridge {

namespace {

constexpr double insetX = 12;

}  // namespace

std::string shortTimeText(double date) {
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort));
    if (!format) return {};
    icu::UnicodeString text;
    format->format(date * 1000.0, text);
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

std::string CalendarBubbleView::relativeStartText(const CalendarEventInfo& event, double now) {
    if (!(event.startDate > now) && event.endDate > now) return "Now";
    const double minutes = std::ceil((event.startDate - now) / 60);
    if (minutes < 2) return "Starting now";
    return "In " + std::to_string(static_cast<long long>(minutes)) + " min";
}

std::string CalendarBubbleView::timeRangeText(const CalendarEventInfo& event) {
    std::string text = shortTimeText(event.startDate) + "-" + shortTimeText(event.endDate);
    std::string place;
    for (const auto& part : {event.location, event.calendarTitle}) {
        if (!part || part->empty()) continue;
        if (!place.empty()) place += " - ";
        place += *part;
    }
    if (!place.empty()) text += " - " + place;
    return text;
}

CalendarBubbleView::CalendarBubbleView(bool showsTail, BubbleTailEdge tailEdge,
                                       std::function<void(CalendarEventCommand)> onCommand)
    : TailBubbleView(showsTail, tailEdge), onCommand_(std::move(onCommand)) {}

std::shared_ptr<CalendarBubbleView> CalendarBubbleView::make(const CalendarEventInfo& event, bool showsTail,
                                                             BubbleTailEdge tailEdge, double now,
                                                             std::function<void(CalendarEventCommand)> onCommand) {
    auto view = std::make_shared<CalendarBubbleView>(showsTail, tailEdge, std::move(onCommand));
    view->start_ = BubbleLabel::make(relativeStartText(event, now),
                                     platform::Font::system(10, platform::FontWeight::semibold),
                                     BubbleColors::tertiaryLabel);
    view->title_ = BubbleLabel::make(event.title, platform::Font::boldSystem(12), platform::SystemColors::label);
    view->title_->wraps = true;
    view->title_->maximumNumberOfLines = 2;
    view->title_->preferredMaxLayoutWidth = width - 8 - 2 * insetX;
    // Digits of the regular face are already of one width.
    view->time_ = BubbleLabel::make(timeRangeText(event), platform::Font::system(10),
                                    platform::SystemColors::secondaryLabel);
    view->time_->truncatesTail = true;
    view->button_ = ClosureButton::make({});
    view->button_->title = "Open Calendar";
    view->button_->bezelStyle = ClosureButton::BezelStyle::rounded;
    std::weak_ptr<CalendarBubbleView> weak = view;
    view->button_->onClick = [weak] {
        if (auto bubble = weak.lock()) bubble->openCalendar();
    };
    for (const auto& label : {view->start_, view->title_, view->time_}) view->contentView()->addSubview(label);
    view->contentView()->addSubview(view->button_);
    return view;
}

void CalendarBubbleView::openCalendar() const {
    if (onCommand_) onCommand_(CalendarEventCommand::openCalendar);
}

platform::Size CalendarBubbleView::contentFittingSize() const {
    const double height = 9 + start_->fittingSize().height + 3 + title_->fittingSize().height + 5 +
                          time_->fittingSize().height + 8 + button_->fittingSize().height + 9;
    return {width - 8, height};
}

void CalendarBubbleView::layoutContent(platform::Size size) {
    const double textWidth = size.width - 2 * insetX;
    double top = 9;
    const double gaps[] = {3, 5, 8};
    int index = 0;
    for (const auto& label : {start_, title_, time_}) {
        const double height = label->fittingSize().height;
        placeFromTop(*label, {insetX, top, textWidth, height}, size.height);
        top += height + gaps[index++];
    }
    const platform::Size button = button_->fittingSize();
    placeFromTop(*button_, {insetX, top, button.width, button.height}, size.height);
}

}  // namespace Mossbridge
