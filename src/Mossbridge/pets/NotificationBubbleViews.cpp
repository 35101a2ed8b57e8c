#include "Mossbridge/pets/NotificationBubbleViews.h"

#include <algorithm>
#include <cmath>

#include "Mossbridge/pets/BubbleColors.h"

namespace Mossbridge {

namespace {

constexpr double insetX = 12;
constexpr double bodyMaxLayoutWidth = 342;

std::string count(double value, const char* unit) { return std::to_string(static_cast<long long>(value)) + unit; }

}  // namespace

std::string relativeDeliveryText(double deliveredDate, double now) {
    const double elapsed = now - deliveredDate;
    if (!(elapsed >= 0) || elapsed < 60) return "now";
    if (elapsed < 3600) return count(elapsed / 60, "m");
    if (elapsed < 86400) return count(elapsed / 3600, "h");
    return count(elapsed / 86400, "d");
}

NotificationHeaderView::NotificationHeaderView(std::function<void()> clearAction)
    : platform::View({0, 0, width, height}),
      label_(BubbleLabel::make("Notifications", platform::Font::system(10.5, platform::FontWeight::semibold),
                               platform::SystemColors::secondaryLabel)),
      clearButton_(ClosureButton::make({0, 0, 20, 20})) {
    clearButton_->setSymbol("xmark.circle.fill", "Clear notifications");
    clearButton_->bezelStyle = ClosureButton::BezelStyle::inline_;
    clearButton_->isBordered = false;
    clearButton_->toolTip = "Clear current notifications";
    clearButton_->contentTint = platform::SystemColors::secondaryLabel;
    clearButton_->onClick = std::move(clearAction);
    addSubview(label_);
    addSubview(clearButton_);
    layout();
}

void NotificationHeaderView::layout() {
    const platform::Rect box = bounds();
    const platform::Size text = label_->fittingSize();
    label_->setFrame({16, box.midY() - text.height / 2, text.width, text.height});
    clearButton_->setFrame({box.maxX() - 12 - 20, box.midY() - 10, 20, 20});
}

NotificationBubbleView::NotificationBubbleView(const AppNotificationItem& item, bool showsTail,
                                               BubbleTailEdge tailEdge, double now)
    : TailBubbleView(showsTail, tailEdge) {
    title_ = BubbleLabel::make(item.title.empty() ? "Notification" : item.title, platform::Font::boldSystem(11.5),
                               platform::SystemColors::label);
    title_->truncatesTail = true;
    time_ = BubbleLabel::make(relativeDeliveryText(item.deliveredDate, now), platform::Font::system(9),
                              BubbleColors::tertiaryLabel);
    time_->alignment = platform::TextAlignment::right;
    if (item.subtitle && !item.subtitle->empty()) {
        // The system's medium weight is drawn in the regular face.
        subtitle_ = BubbleLabel::make(*item.subtitle, platform::Font::system(10), BubbleColors::tertiaryLabel);
        subtitle_->truncatesTail = true;
    }
    body_ = BubbleLabel::make(item.body, platform::Font::system(10), platform::SystemColors::secondaryLabel);
    body_->wraps = true;
    body_->maximumNumberOfLines = 3;
    body_->preferredMaxLayoutWidth = bodyMaxLayoutWidth;
    for (const auto& label : {title_, time_, subtitle_, body_})
        if (label) contentView()->addSubview(label);
}

NotificationBubbleView::Frames NotificationBubbleView::framesAt(double contentWidth) const {
    Frames frames;
    const platform::Size time = time_->fittingSize();
    const platform::Size title = title_->fittingSize();
    frames.time = {contentWidth - insetX - time.width, 9 + title.height - time.height, time.width, time.height};
    frames.title = {insetX, 9, std::max(std::min(title.width, frames.time.minX() - 8 - insetX), 0.0), title.height};
    double below = frames.title.maxY();
    if (subtitle_) {
        frames.subtitle = {insetX, below + 2, contentWidth - 2 * insetX, subtitle_->fittingSize().height};
        below = frames.subtitle.maxY();
    }
    frames.body = {insetX, below + 4, contentWidth - 2 * insetX, body_->fittingSize().height};
    frames.height = frames.body.maxY() + 9;
    return frames;
}

platform::Size NotificationBubbleView::contentFittingSize() const {
    const double contentWidth = width - 8;
    return {contentWidth, framesAt(contentWidth).height};
}

void NotificationBubbleView::layoutContent(platform::Size size) {
    const Frames frames = framesAt(size.width);
    placeFromTop(*title_, frames.title, size.height);
    placeFromTop(*time_, frames.time, size.height);
    if (subtitle_) placeFromTop(*subtitle_, frames.subtitle, size.height);
    placeFromTop(*body_, frames.body, size.height);
}

}  // namespace Mossbridge
