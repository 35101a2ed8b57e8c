#pragma once
// The music player bubble: the player's name, the track, its artist and
// album (or the playback state), and previous, play/pause and next buttons
// whose clicks are handed to `onCommand`. The play/pause button shows the
// state at the time the bubble was built.

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/BubbleLabel.h"
#include "Mossbridge/pets/ClosureButton.h"
#include "Mossbridge/pets/TailBubbleView.h"

namespace Mossbridge {

// Artist and album (each when present and not empty) joined with " - ";
// without either, the state's name with its first letter capitalised.
std::string playerDetailText(const MediaPlaybackInfo& info);

class PlayerBubbleView final : public TailBubbleView {
public:
    static constexpr double width = 280;
    static constexpr double buttonSide = 28;

    static std::shared_ptr<PlayerBubbleView> make(const MediaPlaybackInfo& info, bool showsTail,
                                                  BubbleTailEdge tailEdge,
                                                  std::function<void(MediaPlaybackCommand)> onCommand);
    PlayerBubbleView(bool showsTail, BubbleTailEdge tailEdge, std::function<void(MediaPlaybackCommand)> onCommand);

    // The action of the buttons: tags 0, 1 and 2 are previous, play/pause
    // and next; any other tag is ignored.
    void runCommand(int tag) const;

    const BubbleLabel& appLabel() const { return *app_; }
    const BubbleLabel& titleLabel() const { return *title_; }
    const BubbleLabel& detailLabel() const { return *detail_; }
    // Previous, play/pause, next.
    const std::array<std::shared_ptr<ClosureButton>, 3>& buttons() const { return buttons_; }

protected:
    platform::Size contentFittingSize() const override;
    void layoutContent(platform::Size size) override;

private:
    std::shared_ptr<ClosureButton> makeControlButton(const std::string& symbol, const std::string& description,
                                                     int tag);

    std::function<void(MediaPlaybackCommand)> onCommand_;
    std::shared_ptr<BubbleLabel> app_, title_, detail_;
    std::array<std::shared_ptr<ClosureButton>, 3> buttons_;
};

}  // namespace Mossbridge
