#include "Mossbridge/pets/SpeechBubbleWindow.h"

#include <algorithm>
#include <cmath>

#include "Mossbridge/pets/MessageBubbleView.h"

namespace Mossbridge {

namespace {

constexpr double screenMargin = 10;
constexpr double petGap = 2;

}  // namespace

std::shared_ptr<SpeechBubbleWindow> SpeechBubbleWindow::make(platform::WindowServer& server,
                                                             platform::Dispatcher& dispatcher) {
    return std::make_shared<SpeechBubbleWindow>(ConstructionToken{}, server, dispatcher);
}

SpeechBubbleWindow::SpeechBubbleWindow(ConstructionToken, platform::WindowServer& server,
                                       platform::Dispatcher& dispatcher)
    : bubbleView_(SpeechBubbleView::make({}, dispatcher)), companion_(server, dispatcher, bubbleView_) {}

void SpeechBubbleWindow::cancelHide() {
    if (hideTask_) hideTask_->cancel();
}

void SpeechBubbleWindow::scheduleHide(double delay) {
    cancelHide();
    std::weak_ptr<SpeechBubbleWindow> weak = weak_from_this();
    auto queue = companion_.dispatcher().mainQueue();
    hideTask_ = std::make_shared<platform::WorkItem>([weak, queue] {
        queue->async([weak] {
            if (auto window = weak.lock()) window->hideBubble();
        });
    });
    queue->after(delay, hideTask_);
}

void SpeechBubbleWindow::show(Mode mode, const platform::Rect& petFrame) {
    cancelHide();
    mode_ = std::move(mode);
    present(mode_, petFrame);
}

void SpeechBubbleWindow::showMessage(const std::string& text, const platform::Rect& petFrame) {
    show(Mode::message(text), petFrame);
    scheduleHide(messageDuration);
}

void SpeechBubbleWindow::showNotificationSpeech(const AppNotificationItem& notification,
                                                const platform::Rect& petFrame) {
    show(Mode::notificationSpeech(NotificationSpeechMessage(notification)), petFrame);
    scheduleHide(notificationSpeechDuration);
}

void SpeechBubbleWindow::showMediaPlayer(const MediaPlaybackInfo& info, const platform::Rect& petFrame) {
    show(Mode::mediaPlayer(info), petFrame);
}

void SpeechBubbleWindow::showCalendarEvent(const CalendarEventInfo& event, const platform::Rect& petFrame) {
    show(Mode::calendarEvent(event), petFrame);
}

platform::Size SpeechBubbleWindow::measureBubble(const Mode& mode) {
    // A detached view, built with the reveal off so that a message holds its
    // whole text: measuring never disturbs the bubble on screen.
    auto scratch = SpeechBubbleView::make({}, companion_.dispatcher());
    scratch->tailEdge = bubbleView_->tailEdge;
    scratch->setMode(mode);
    const platform::Size fitting = scratch->fittingSize();
    return {std::max(std::ceil(fitting.width), 1.0), std::max(std::ceil(fitting.height), 1.0)};
}

double SpeechBubbleWindow::tailLength(const platform::Rect& petFrame) {
    const double length = std::max(std::min(0.18 * petFrame.height(), 48.0), 18.0);
    return std::isnan(length) ? 18 : length;
}

SpeechBubbleWindow::TailEdge SpeechBubbleWindow::chooseTailEdge(const Mode& mode, const platform::Rect& petFrame) {
    const double height = measureBubble(mode).height;
    const platform::Rect visible = visibleFrameContaining(companion_.server(), petFrame);
    const double bottomAbovePet = petFrame.maxY() + petGap - tailLength(petFrame);
    return height + bottomAbovePet <= visible.maxY() - screenMargin ? TailEdge::bottom : TailEdge::top;
}

platform::Rect SpeechBubbleWindow::bubbleFrame(const Mode& mode, const platform::Rect& petFrame) {
    const platform::Size size = measureBubble(mode);
    const platform::Rect visible = visibleFrameContaining(companion_.server(), petFrame);
    const double tail = tailLength(petFrame);
    double y = tailEdge_ == TailEdge::bottom ? petFrame.maxY() + petGap - tail
                                             : petFrame.minY() - size.height - petGap + tail;
    double x = petFrame.midX() - size.width / 2;
    x = std::min(std::max(x, visible.minX() + screenMargin), visible.maxX() - size.width - screenMargin);
    y = std::min(std::max(y, visible.minY() + screenMargin), visible.maxY() - size.height - screenMargin);
    return {x, y, size.width, size.height};
}

void SpeechBubbleWindow::applyTailEdge(const Mode& mode, const platform::Rect& petFrame) {
    tailEdge_ = chooseTailEdge(mode, petFrame);
    if (bubbleView_->tailEdge != tailEdge_) {
        bubbleView_->tailEdge = tailEdge_;
        bubbleView_->rebuildContent();
    }
}

void SpeechBubbleWindow::present(const Mode& mode, const platform::Rect& petFrame) {
    SpeechBubbleView& view = *bubbleView_;
    view.onMediaCommand = onMediaCommand;
    view.onCalendarCommand = onCalendarCommand;
    view.onNotificationsClear = onNotificationsClear;

    applyTailEdge(mode, petFrame);
    companion_.panel().setFrame(bubbleFrame(mode, petFrame), true);
    view.animatesMessageReveal = true;
    if (view.mode() == mode)
        view.rebuildContent();
    else
        view.setMode(mode);

    ++visibilityGeneration_;
    companion_.panel().orderFront();
    companion_.fade(1);
}

void SpeechBubbleWindow::hideBubble() {
    cancelHide();
    hideTask_.reset();
    mode_ = Mode::hidden();
    bubbleView_->setMode(Mode::hidden());

    const std::uint64_t generation = ++visibilityGeneration_;
    std::weak_ptr<SpeechBubbleWindow> weak = weak_from_this();
    companion_.fade(0, [weak, generation] {
        auto window = weak.lock();
        if (window && window->visibilityGeneration_ == generation) window->panel().orderOut();
    });
}

void SpeechBubbleWindow::reposition(const platform::Rect& petFrame) {
    if (mode_ == Mode::hidden()) return;
    applyTailEdge(mode_, petFrame);
    companion_.panel().setFrame(bubbleFrame(mode_, petFrame), true);
}

void SpeechBubbleWindow::close() {
    cancelHide();
    hideTask_.reset();
    ++visibilityGeneration_;
    companion_.close();
}

}  // namespace Mossbridge
