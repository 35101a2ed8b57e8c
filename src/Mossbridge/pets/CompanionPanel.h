#pragma once
// What a pet's two companion panels (the speech bubble and the window
// previews) share: a borderless panel at the floating level that starts
// ordered out at alpha 0, fades its alpha over 0.12 s on the main queue,
// and is placed on the screen that holds its pet. Main thread only.

#include <functional>
#include <memory>

#include "platform/core/Dispatch.h"
#include "platform/core/Geometry.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

// The visible frame of the first screen whose visible frame intersects
// `petFrame`; else the main screen's; else 1440 by 900 at the origin.
platform::Rect visibleFrameContaining(const platform::WindowServer& server, const platform::Rect& petFrame);

class CompanionPanel {
public:
    static constexpr double fadeDuration = 0.12;
    static constexpr int floatingLevel = 3;

    CompanionPanel(platform::WindowServer& server, platform::Dispatcher& dispatcher,
                   std::shared_ptr<platform::View> contentView);
    ~CompanionPanel();
    CompanionPanel(const CompanionPanel&) = delete;
    CompanionPanel& operator=(const CompanionPanel&) = delete;

    platform::Panel& panel() const { return *panel_; }
    platform::WindowServer& server() const { return panel_->server(); }
    platform::Dispatcher& dispatcher() const { return dispatcher_; }

    // Moves the alpha from where it is to `target` over fadeDuration; a
    // newer fade takes the alpha over. `completion` runs on the main queue
    // when this fade's time is up, whether or not a newer fade took over,
    // unless the panel is gone by then.
    void fade(double target, std::function<void()> completion = {});

    // Stops any fade and orders the panel out.
    void close();

private:
    struct FadeState;
    platform::Dispatcher& dispatcher_;
    std::shared_ptr<platform::Panel> panel_;
    std::shared_ptr<FadeState> fadeState_;
};

}  // namespace Mossbridge
