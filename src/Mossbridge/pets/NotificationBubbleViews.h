#pragma once
// The notifications list of a bubble: its header ("Notifications" and a
// button that clears them) and one bubble per delivered notification with
// its title, age, optional subtitle and up to three lines of body.

#include <functional>
#include <memory>
#include <string>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/BubbleLabel.h"
#include "Mossbridge/pets/ClosureButton.h"
#include "Mossbridge/pets/TailBubbleView.h"

namespace Mossbridge {

// The age of a notification delivered at `deliveredDate` as seen at `now`
// (wall-clock seconds): "now" under a minute (or in the future), then whole
// minutes "12m", hours "3h" or days "2d".
std::string relativeDeliveryText(double deliveredDate, double now);

class NotificationHeaderView final : public platform::View {
public:
    static constexpr double width = 390;
    static constexpr double height = 22;

    explicit NotificationHeaderView(std::function<void()> clearAction);

    const BubbleLabel& titleLabel() const { return *label_; }
    const std::shared_ptr<ClosureButton>& clearButton() const { return clearButton_; }

    void layout() override;

private:
    std::shared_ptr<BubbleLabel> label_;
    std::shared_ptr<ClosureButton> clearButton_;
};

class NotificationBubbleView final : public TailBubbleView {
public:
    static constexpr double width = 390;

    // `now` dates the notification's age once, when the bubble is built.
    NotificationBubbleView(const AppNotificationItem& item, bool showsTail, BubbleTailEdge tailEdge, double now);

    const BubbleLabel& titleLabel() const { return *title_; }
    const BubbleLabel& timeLabel() const { return *time_; }
    const BubbleLabel* subtitleLabel() const { return subtitle_.get(); }
    const BubbleLabel& bodyLabel() const { return *body_; }

protected:
    platform::Size contentFittingSize() const override;
    void layoutContent(platform::Size size) override;

private:
    // Flipped frames of the labels at content width `width`.
    struct Frames {
        platform::Rect title, time, subtitle, body;
        double height = 0;
    };
    Frames framesAt(double contentWidth) const;

    std::shared_ptr<BubbleLabel> title_, time_, subtitle_, body_;
};

}  // namespace Mossbridge
