#pragma once
// The one process-wide clock that drives every visible pet's animation.
// It beats with the display link when one can be had, else with a 1/60 s
// main-queue timer; the link's thread only requests a tick (coalesced by
// PetAnimationTickScheduler). Each tick, on the main queue, measures the
// time since the previous one, clamps it to [1/240 s, 0.12 s] (1/60 s for
// the first tick after a start) and advances every registered view by it.
// The clock runs only while views are registered: a tick that finds none
// stops it. Everything but the link's callback is main-thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Mossbridge/pets/PetAnimationTickScheduler.h"
#include "platform/core/Dispatch.h"
#include "platform/drawing/DisplayLink.h"

namespace Mossbridge {

// What the clock advances (the pet view).
class AnimatedView {
public:
    virtual ~AnimatedView() = default;
    virtual void advanceAnimation(double dt) = 0;
};

// A set of views held weakly: a view that goes away drops out by itself.
class WeakViewTable {
public:
    void add(const std::shared_ptr<AnimatedView>& view);
    void remove(const AnimatedView* view);
    bool contains(const AnimatedView* view) const;
    // The live views, in the order they were added.
    std::vector<std::shared_ptr<AnimatedView>> allObjects() const;
    // The same into `live` (cleared first), reusing its storage: the tick
    // takes them this way without allocating. Forgets views that are gone.
    void collectLive(std::vector<std::shared_ptr<AnimatedView>>& live);
    bool isEmpty() const;

private:
    std::vector<std::weak_ptr<AnimatedView>> views_;
};

class PetAnimationClock : public std::enable_shared_from_this<PetAnimationClock> {
public:
    struct Environment {
        platform::Dispatcher* dispatcher = nullptr;  // its main queue and clock
        platform::DisplayLinkFactory makeDisplayLink;  // may be empty or answer null
    };

    static std::shared_ptr<PetAnimationClock> make(Environment environment);
    ~PetAnimationClock();

    // The shared clock; the application configures it once at start-up.
    // Throws std::logic_error when used before configureShared().
    static PetAnimationClock& shared();
    static void configureShared(Environment environment);
    // Test hook: forgets the shared clock (stopping it).
    static void resetSharedForTesting();

    // Callers register a view here, then start(); they remove it, then
    // stopIfIdle().
    WeakViewTable& views() { return views_; }

    // Does nothing while a display link or the timer exists.
    void start();
    // Stops the link and the timer and forgets the last tick, when no view
    // is registered.
    void stopIfIdle();
    void tick();

    bool hasDisplayLink() const { return displayLink_ != nullptr; }
    bool hasFallbackTimer() const { return fallbackTimer_ != nullptr; }
    std::optional<std::uint64_t> lastTick() const { return lastTick_; }

private:
    explicit PetAnimationClock(Environment environment);

    Environment environment_;
    PetAnimationTickScheduler tickScheduler_;
    WeakViewTable views_;
    std::unique_ptr<platform::DisplayLink> displayLink_;
    platform::TimerRef fallbackTimer_;
    std::optional<std::uint64_t> lastTick_;  // monotonic nanoseconds
    bool isTickPending_ = false;
    // The views advanced by the running tick; kept between ticks (empty) so
    // that its storage is reused.
    std::vector<std::shared_ptr<AnimatedView>> tickViews_;
};

}  // namespace Mossbridge
