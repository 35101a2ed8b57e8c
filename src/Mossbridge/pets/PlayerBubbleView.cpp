#include "Mossbridge/pets/PlayerBubbleView.h"

#include <cctype>

#include "Mossbridge/pets/BubbleColors.h"

namespace Mossbridge {

namespace {

constexpr double insetX = 12;
constexpr double buttonSpacing = 8;

}  // namespace

std::string playerDetailText(const MediaPlaybackInfo& info) {
    std::string detail;
    for (const auto& part : {info.artist, info.album}) {
        if (!part || part->empty()) continue;
        if (!detail.empty()) detail += " - ";
        detail += *part;
    }
    if (!detail.empty()) return detail;
    std::string state(rawValue(info.state));
    if (!state.empty()) state[0] = char(std::toupper(static_cast<unsigned char>(state[0])));
    return state;
}

PlayerBubbleView::PlayerBubbleView(bool showsTail, BubbleTailEdge tailEdge,
                                   std::function<void(MediaPlaybackCommand)> onCommand)
    : TailBubbleView(showsTail, tailEdge), onCommand_(std::move(onCommand)) {}

std::shared_ptr<PlayerBubbleView> PlayerBubbleView::make(const MediaPlaybackInfo& info, bool showsTail,
                                                         BubbleTailEdge tailEdge,
                                                         std::function<void(MediaPlaybackCommand)> onCommand) {
    auto view = std::make_shared<PlayerBubbleView>(showsTail, tailEdge, std::move(onCommand));
    view->app_ = BubbleLabel::make(info.appName, platform::Font::system(10, platform::FontWeight::semibold),
                                   BubbleColors::tertiaryLabel);
    view->title_ = BubbleLabel::make(info.title.value_or("Nothing playing"), platform::Font::boldSystem(12),
                                     platform::SystemColors::label);
    view->title_->truncatesTail = true;
    view->detail_ =
        BubbleLabel::make(playerDetailText(info), platform::Font::system(10), platform::SystemColors::secondaryLabel);
    view->detail_->truncatesTail = true;
    const bool playing = info.state == MediaPlaybackState::playing;
    view->buttons_ = {view->makeControlButton("backward.fill", "Previous", 0),
                      view->makeControlButton(playing ? "pause.fill" : "play.fill", playing ? "Pause" : "Play", 1),
                      view->makeControlButton("forward.fill", "Next", 2)};
    for (const auto& label : {view->app_, view->title_, view->detail_}) view->contentView()->addSubview(label);
    for (const auto& button : view->buttons_) view->contentView()->addSubview(button);
    return view;
}

std::shared_ptr<ClosureButton> PlayerBubbleView::makeControlButton(const std::string& symbol,
                                                                   const std::string& description, int tag) {
    auto button = ClosureButton::make({0, 0, buttonSide, buttonSide});
    button->setSymbol(symbol, description);
    button->bezelStyle = ClosureButton::BezelStyle::circular;
    button->tag = tag;
    button->toolTip = description;
    std::weak_ptr<PlayerBubbleView> weak = std::static_pointer_cast<PlayerBubbleView>(shared_from_this());
    std::weak_ptr<ClosureButton> sender = button;
    button->onClick = [weak, sender] {
        auto view = weak.lock();
        auto clicked = sender.lock();
        if (view && clicked) view->runCommand(clicked->tag);
    };
    return button;
}

void PlayerBubbleView::runCommand(int tag) const {
    static constexpr MediaPlaybackCommand commands[] = {MediaPlaybackCommand::previous,
                                                        MediaPlaybackCommand::playPause, MediaPlaybackCommand::next};
    if (tag < 0 || tag > 2 || !onCommand_) return;
    onCommand_(commands[tag]);
}

platform::Size PlayerBubbleView::contentFittingSize() const {
    const double height = 9 + app_->fittingSize().height + 3 + title_->fittingSize().height + 3 +
                          detail_->fittingSize().height + 8 + buttonSide + 9;
    return {width - 8, height};
}

void PlayerBubbleView::layoutContent(platform::Size size) {
    const double textWidth = size.width - 2 * insetX;
    double top = 9;
    for (const auto& label : {app_, title_, detail_}) {
        const double height = label->fittingSize().height;
        placeFromTop(*label, {insetX, top, textWidth, height}, size.height);
        top += height + 3;
    }
    top += 8 - 3;
    const double rowWidth = 3 * buttonSide + 2 * buttonSpacing;
    double left = (size.width - rowWidth) / 2;
    for (const auto& button : buttons_) {
        placeFromTop(*button, {left, top, buttonSide, buttonSide}, size.height);
        left += buttonSide + buttonSpacing;
    }
}

}  // namespace Mossbridge
