#include "Mossbridge/pets/CompanionPanel.h"

#include <algorithm>
#include <cstdint>

namespace Mossbridge {

namespace {

constexpr double fadeStep = 1.0 / 60;

}  // namespace

platform::Rect visibleFrameContaining(const platform::WindowServer& server, const platform::Rect& petFrame) {
    for (const platform::Screen& screen : server.screens())
        if (intersects(screen.visibleFrame, petFrame)) return screen.visibleFrame;
    if (const auto main = server.mainScreen()) return main->visibleFrame;
    return {0, 0, 1440, 900};
}

struct CompanionPanel::FadeState {
    std::weak_ptr<platform::Panel> panel;
    platform::TimerRef timer;
    std::uint64_t generation = 0;

    void stop() {
        if (timer) timer->cancel();
        timer.reset();
    }
};

CompanionPanel::CompanionPanel(platform::WindowServer& server, platform::Dispatcher& dispatcher,
                               std::shared_ptr<platform::View> contentView)
    : dispatcher_(dispatcher), panel_(platform::Panel::make(server, {})), fadeState_(std::make_shared<FadeState>()) {
    panel_->level = floatingLevel;
    panel_->alphaValue = 0;
    panel_->setContentView(std::move(contentView));
    fadeState_->panel = panel_;
}

CompanionPanel::~CompanionPanel() { fadeState_->stop(); }

void CompanionPanel::fade(double target, std::function<void()> completion) {
    FadeState& state = *fadeState_;
    state.stop();
    const std::uint64_t generation = ++state.generation;
    const double from = panel_->alphaValue;
    platform::Clock& clock = dispatcher_.clock();
    const double start = clock.uptime();
    std::weak_ptr<FadeState> weak = fadeState_;
    auto queue = dispatcher_.mainQueue();

    state.timer = queue->scheduleTimer(fadeStep, 0, true, [weak, &clock, start, from, target] {
        auto alive = weak.lock();
        auto panel = alive ? alive->panel.lock() : nullptr;
        if (!panel) return;
        const double progress = std::min((clock.uptime() - start) / fadeDuration, 1.0);
        panel->alphaValue = from + (target - from) * progress;
    });
    queue->after(fadeDuration, [weak, generation, target, completion = std::move(completion)] {
        auto alive = weak.lock();
        auto panel = alive ? alive->panel.lock() : nullptr;
        if (!panel) return;
        if (alive->generation == generation) {
            alive->stop();
            panel->alphaValue = target;
        }
        if (completion) completion();
    });
}

void CompanionPanel::close() {
    fadeState_->stop();
    ++fadeState_->generation;
    panel_->orderOut();
}

}  // namespace Mossbridge
