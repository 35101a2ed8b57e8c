#pragma once
// Hands display-link beats over to the main queue, at most one at a time:
// from the moment a tick is requested until it has finished running on the
// main queue, further requests are dropped (no catching up). requestTick
// may be called from any thread.

#include <functional>
#include <memory>

#include "platform/core/Dispatch.h"

namespace Mossbridge {

class PetAnimationTickScheduler {
public:
    explicit PetAnimationTickScheduler(platform::QueueRef mainQueue);

    void requestTick(std::function<void()> action);
    bool hasPendingTick() const;

private:
    struct State;
    platform::QueueRef mainQueue_;
    std::shared_ptr<State> state_;  // shared with the queued tick
};

}  // namespace Mossbridge
