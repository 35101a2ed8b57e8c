#include "Mossbridge/pets/SpeechBubbleView.h"

#include <algorithm>

#include "Mossbridge/pets/CalendarBubbleView.h"
#include "Mossbridge/pets/NotificationBubbleViews.h"
#include "Mossbridge/pets/PlayerBubbleView.h"

namespace Mossbridge {

namespace {

constexpr double insetLeading = 5;
constexpr double insetTrailing = 5;
constexpr double insetTop = 5;
constexpr double insetBottom = 11;
constexpr double spacing = 3;

}  // namespace

std::shared_ptr<SpeechBubbleView> SpeechBubbleView::make(const platform::Rect& frame,
                                                         platform::Dispatcher& dispatcher) {
    auto view = std::make_shared<SpeechBubbleView>(frame, dispatcher);
    view->addSubview(view->stack_);
    view->rebuildContent();
    view->updateTrackingAreas();
    return view;
}

SpeechBubbleView::SpeechBubbleView(const platform::Rect& frame, platform::Dispatcher& dispatcher)
    : platform::View(frame), dispatcher_(dispatcher), stack_(std::make_shared<platform::View>(platform::Rect{})) {}

std::weak_ptr<SpeechBubbleView> SpeechBubbleView::weakSelf() {
    return std::static_pointer_cast<SpeechBubbleView>(shared_from_this());
}

void SpeechBubbleView::setMode(Mode mode) {
    if (mode == mode_) return;
    mode_ = std::move(mode);
    rebuildContent();
}

void SpeechBubbleView::addArranged(std::shared_ptr<platform::View> view, platform::Size size) {
    view->setFrame({0, 0, size.width, size.height});
    stack_->addSubview(view);
    arranged_.push_back(std::move(view));
    arrangedSizes_.push_back(size);
}

void SpeechBubbleView::rebuildContent() {
    for (const auto& view : arranged_) view->removeFromSuperview();
    arranged_.clear();
    arrangedSizes_.clear();

    auto weak = weakSelf();
    switch (mode_.kind()) {
    case Mode::Case::message:
    case Mode::Case::notificationSpeech: {
        MessageBubbleContent content = mode_.kind() == Mode::Case::message
                                           ? MessageBubbleContent(*mode_.payload<std::string>())
                                           : MessageBubbleContent(*mode_.payload<NotificationSpeechMessage>());
        auto bubble = MessageBubbleView::make(std::move(content), tailEdge, animatesMessageReveal, dispatcher_);
        addArranged(bubble, bubble->fittingSize());
        break;
    }
    case Mode::Case::notifications: addNotifications(*mode_.payload<std::vector<AppNotificationItem>>()); break;
    case Mode::Case::mediaPlayer: {
        auto bubble = PlayerBubbleView::make(*mode_.payload<MediaPlaybackInfo>(), true, tailEdge,
                                             [weak](MediaPlaybackCommand command) {
                                                 auto view = weak.lock();
                                                 if (view && view->onMediaCommand) view->onMediaCommand(command);
                                             });
        addArranged(bubble, bubble->fittingSize());
        break;
    }
    case Mode::Case::calendarEvent: {
        auto bubble = CalendarBubbleView::make(*mode_.payload<CalendarEventInfo>(), true, tailEdge,
                                               dispatcher_.clock().now(), [weak](CalendarEventCommand command) {
                                                   auto view = weak.lock();
                                                   if (view && view->onCalendarCommand) view->onCalendarCommand(command);
                                               });
        addArranged(bubble, bubble->fittingSize());
        break;
    }
    case Mode::Case::hidden: break;
    }
    layout();
    setNeedsDisplay(true);
}

void SpeechBubbleView::addNotifications(const std::vector<AppNotificationItem>& items) {
    auto weak = weakSelf();
    addArranged(std::make_shared<NotificationHeaderView>([weak] {
                    auto view = weak.lock();
                    if (view && view->onNotificationsClear) view->onNotificationsClear();
                }),
                {NotificationHeaderView::width, NotificationHeaderView::height});
    const std::size_t count = std::min(items.size(), maximumNotifications);
    const double now = dispatcher_.clock().now();
    for (std::size_t i = 0; i < count; ++i) {
        const bool showsTail = tailEdge == TailEdge::bottom ? i + 1 == count : i == 0;
        auto bubble = std::make_shared<NotificationBubbleView>(items[i], showsTail, tailEdge, now);
        addArranged(bubble, bubble->fittingSize());
    }
}

platform::Size SpeechBubbleView::fittingSize() const {
    double width = 0, height = 0;
    for (const platform::Size& size : arrangedSizes_) {
        width = std::max(width, size.width);
        height += size.height;
    }
    if (arrangedSizes_.size() > 1) height += spacing * double(arrangedSizes_.size() - 1);
    return {width + insetLeading + insetTrailing, height + insetTop + insetBottom};
}

void SpeechBubbleView::layout() {
    const platform::Rect box = bounds();
    const platform::Rect stackFrame{insetLeading, insetBottom, std::max(box.width() - insetLeading - insetTrailing, 0.0),
                                    std::max(box.height() - insetTop - insetBottom, 0.0)};
    stack_->setFrame(stackFrame);
    double top = stackFrame.height();
    for (std::size_t i = 0; i < arranged_.size(); ++i) {
        const platform::Size size = arrangedSizes_[i];
        arranged_[i]->setFrame({0, top - size.height, size.width, size.height});
        top -= size.height + spacing;
    }
    updateTrackingAreas();
}

void SpeechBubbleView::updateTrackingAreas() {
    namespace options = platform::TrackingOptions;
    removeAllTrackingAreas();
    addTrackingArea({bounds(), options::mouseEnteredAndExited | options::mouseMoved | options::activeAlways | options::inVisibleRect});
}

void SpeechBubbleView::reportHover(bool hovering) const {
    if (onHoverChanged) onHoverChanged(hovering);
}

void SpeechBubbleView::mouseEntered(const platform::PointerEvent&) { reportHover(true); }
void SpeechBubbleView::mouseMoved(const platform::PointerEvent&) { reportHover(true); }
void SpeechBubbleView::mouseExited(const platform::PointerEvent&) { reportHover(false); }

}  // namespace Mossbridge
