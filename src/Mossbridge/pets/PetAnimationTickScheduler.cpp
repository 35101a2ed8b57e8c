#include "Mossbridge/pets/PetAnimationTickScheduler.h"

#include <mutex>

namespace Mossbridge {

struct PetAnimationTickScheduler::State {
    mutable std::mutex lock;
    bool hasPendingTick = false;
};

PetAnimationTickScheduler::PetAnimationTickScheduler(platform::QueueRef mainQueue)
    : mainQueue_(std::move(mainQueue)), state_(std::make_shared<State>()) {}

void PetAnimationTickScheduler::requestTick(std::function<void()> action) {
    {
        std::lock_guard guard(state_->lock);
        if (state_->hasPendingTick) return;
        state_->hasPendingTick = true;
    }
    mainQueue_->async([state = state_, action = std::move(action)] {
        if (action) action();
        std::lock_guard guard(state->lock);
        state->hasPendingTick = false;
    });
}

bool PetAnimationTickScheduler::hasPendingTick() const {
    std::lock_guard guard(state_->lock);
    return state_->hasPendingTick;
}

}  // namespace Mossbridge
