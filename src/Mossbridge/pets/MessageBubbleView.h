#pragma once
// A bubble that says one message: a plain text, or a notification read out
// (its title, in semibold, over its body). The bubble's size is fixed from
// the whole text (124 to 380 points of text, at most five lines); when
// built with the reveal flag it starts empty and types its text in, one
// composed character per firing of a main-queue timer, until it is shown
// whole or the bubble leaves its window.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/BubbleLabel.h"
#include "Mossbridge/pets/TailBubbleView.h"
#include "platform/core/Dispatch.h"

namespace Mossbridge {

struct NotificationSpeechMessage {
    std::optional<std::string> title;
    std::string body;

    // Title and subtitle (each kept when present and not empty) joined with
    // " - ", absent when neither is kept; the body as it is.
    explicit NotificationSpeechMessage(const AppNotificationItem& notification);
    NotificationSpeechMessage(std::optional<std::string> title, std::string body)
        : title(std::move(title)), body(std::move(body)) {}
    bool operator==(const NotificationSpeechMessage&) const = default;
};

// What a message bubble says: plain text or a notification read out.
using MessageBubbleContent = std::variant<std::string, NotificationSpeechMessage>;

// The title, a line feed and the body (the body alone without a title).
std::string displayText(const MessageBubbleContent& content);
// `text` (all or a prefix of the content's display text) in the 11-point
// system font, the title's part of it in the semibold face.
AttributedText messageAttributedText(const MessageBubbleContent& content, const std::string& text);

class MessageBubbleView final : public TailBubbleView {
public:
    static constexpr double minimumLabelWidth = 124;
    static constexpr double maximumLabelWidth = 380;
    static constexpr int maximumLines = 5;

    static std::shared_ptr<MessageBubbleView> make(MessageBubbleContent content, BubbleTailEdge tailEdge,
                                                   bool revealsMessage, platform::Dispatcher& dispatcher);
    MessageBubbleView(MessageBubbleContent content, BubbleTailEdge tailEdge, platform::Dispatcher& dispatcher);
    ~MessageBubbleView() override;

    // Seconds per character when typing `characterCount` characters.
    static double typingInterval(std::size_t characterCount);

    const MessageBubbleContent& content() const { return content_; }
    const BubbleLabel& visibleLabel() const { return *label_; }
    const std::vector<std::string>& messageCharacters() const { return messageCharacters_; }
    std::size_t visibleCharacterCount() const { return visibleCharacterCount_; }
    bool isTyping() const { return typingTimer_ != nullptr; }
    platform::Size labelSize() const { return labelSize_; }

    void startTyping();
    void advanceTyping();
    void stopTyping();

    void viewDidMoveToWindow() override;

protected:
    platform::Size contentFittingSize() const override;
    void layoutContent(platform::Size size) override;

private:
    MessageBubbleContent content_;
    platform::QueueRef mainQueue_;
    std::shared_ptr<BubbleLabel> label_;
    platform::Size labelSize_;
    std::vector<std::string> messageCharacters_;
    platform::TimerRef typingTimer_;
    std::size_t visibleCharacterCount_ = 0;
};

}  // namespace Mossbridge
