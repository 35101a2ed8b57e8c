#include "Mossbridge/pets/MessageBubbleView.h"

#include <algorithm>
#include <cmath>

#include "platform/drawing/SystemColors.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

constexpr double pointSize = 11;
constexpr double labelInsetX = 14;
constexpr double labelInsetY = 10;

const platform::Font regularFont = platform::Font::system(pointSize);
const platform::Font semiboldFont = platform::Font::system(pointSize, platform::FontWeight::semibold);

bool hasTitle(const NotificationSpeechMessage& message) { return message.title && !message.title->empty(); }

// The first `units` UTF-16 units of `text`, as UTF-8 (empty when they end
// inside a surrogate pair or the text is ill-formed).
std::string utf16Prefix(const std::string& text, std::size_t units) {
    const auto wide = platform::utf8ToUtf16(text);
    if (!wide) return {};
    return platform::utf16ToUtf8(std::u16string_view(*wide).substr(0, units)).value_or(std::string());
}

double messageLineHeight() {
    return std::ceil(std::max(fontLineHeight(regularFont), fontLineHeight(semiboldFont)));
}

}  // namespace

NotificationSpeechMessage::NotificationSpeechMessage(const AppNotificationItem& notification)
    : body(notification.body) {
    std::vector<std::string> parts;
    if (!notification.title.empty()) parts.push_back(notification.title);
    if (notification.subtitle && !notification.subtitle->empty()) parts.push_back(*notification.subtitle);
    if (parts.empty()) return;
    title = parts.front();
    if (parts.size() == 2) *title += " - " + parts.back();
}

std::string displayText(const MessageBubbleContent& content) {
    if (const auto* plain = std::get_if<std::string>(&content)) return *plain;
    const auto& message = std::get<NotificationSpeechMessage>(content);
    return hasTitle(message) ? *message.title + "\n" + message.body : message.body;
}

AttributedText messageAttributedText(const MessageBubbleContent& content, const std::string& text) {
    std::size_t boldBytes = 0;
    if (const auto* message = std::get_if<NotificationSpeechMessage>(&content); message && hasTitle(*message)) {
        const std::size_t units = std::min(platform::utf16Length(*message->title), platform::utf16Length(text));
        boldBytes = utf16Prefix(text, units).size();
    }
    AttributedText runs;
    if (boldBytes > 0) runs.push_back({text.substr(0, boldBytes), semiboldFont});
    if (boldBytes < text.size()) runs.push_back({text.substr(boldBytes), regularFont});
    return runs;
}

MessageBubbleView::MessageBubbleView(MessageBubbleContent content, BubbleTailEdge tailEdge,
                                     platform::Dispatcher& dispatcher)
    : TailBubbleView(true, tailEdge), content_(std::move(content)), mainQueue_(dispatcher.mainQueue()) {}

MessageBubbleView::~MessageBubbleView() { stopTyping(); }

std::shared_ptr<MessageBubbleView> MessageBubbleView::make(MessageBubbleContent content, BubbleTailEdge tailEdge,
                                                           bool revealsMessage, platform::Dispatcher& dispatcher) {
    auto view = std::make_shared<MessageBubbleView>(std::move(content), tailEdge, dispatcher);
    const std::string text = displayText(view->content_);
    const AttributedText full = messageAttributedText(view->content_, text);

    const double wrapWidth = std::clamp(std::ceil(singleLineWidth(full)), minimumLabelWidth, maximumLabelWidth);
    double boundingWidth = 0;
    const auto lines = wrapText(full, wrapWidth);
    for (const TextLine& line : lines) boundingWidth = std::max(boundingWidth, line.width);
    const double lineHeight = messageLineHeight();
    const double boundingHeight = double(lines.size()) * lineHeight + double(lines.size() - 1) * 1;
    const double textHeight = std::min(std::ceil(boundingHeight), maximumLines * lineHeight);

    auto label = BubbleLabel::make("", regularFont, platform::SystemColors::label);
    label->wraps = true;
    label->maximumNumberOfLines = maximumLines;
    label->lineSpacing = 1;
    label->preferredMaxLayoutWidth = maximumLabelWidth;
    if (!revealsMessage) label->setAttributedText(full);
    view->label_ = label;
    view->messageCharacters_ = platform::composedCharacters(text);
    view->labelSize_ = {std::max(std::min(std::ceil(boundingWidth), maximumLabelWidth), minimumLabelWidth),
                        std::max(lineHeight, textHeight)};
    view->contentView()->addSubview(label);
    if (revealsMessage) view->startTyping();
    return view;
}

double MessageBubbleView::typingInterval(std::size_t characterCount) {
    if (characterCount == 0) return 0;
    return std::max(std::min(0.72 / double(characterCount), 0.035), 0.012);
}

void MessageBubbleView::startTyping() {
    const std::size_t count = messageCharacters_.size();
    if (count == 0) return;
    stopTyping();
    std::weak_ptr<MessageBubbleView> weak = std::static_pointer_cast<MessageBubbleView>(shared_from_this());
    platform::QueueRef queue = mainQueue_;
    typingTimer_ = mainQueue_->scheduleTimer(typingInterval(count), 0, true, [weak, queue] {
        if (weak.expired()) return;
        queue->async([weak] {
            if (auto view = weak.lock()) view->advanceTyping();
        });
    });
}

void MessageBubbleView::advanceTyping() {
    if (visibleCharacterCount_ < messageCharacters_.size()) {
        ++visibleCharacterCount_;
        std::string prefix;
        for (std::size_t i = 0; i < visibleCharacterCount_; ++i) prefix += messageCharacters_[i];
        label_->setAttributedText(messageAttributedText(content_, prefix));
        return;
    }
    stopTyping();
}

void MessageBubbleView::stopTyping() {
    if (typingTimer_) typingTimer_->cancel();
    typingTimer_.reset();
}

void MessageBubbleView::viewDidMoveToWindow() {
    if (!window()) stopTyping();
}

platform::Size MessageBubbleView::contentFittingSize() const {
    return {labelSize_.width + 2 * labelInsetX, labelSize_.height + 2 * labelInsetY};
}

void MessageBubbleView::layoutContent(platform::Size size) {
    placeFromTop(*label_, {labelInsetX, labelInsetY, labelSize_.width, labelSize_.height}, size.height);
}

}  // namespace Mossbridge
