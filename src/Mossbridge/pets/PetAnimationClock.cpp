#include "Mossbridge/pets/PetAnimationClock.h"

#include <algorithm>
#include <stdexcept>

#include "Mossbridge/model/PerformanceLog.h"

namespace Mossbridge {

namespace {

constexpr double fallbackInterval = 1.0 / 60;
constexpr double fallbackTolerance = 0.002;
constexpr double firstStep = 1.0 / 60;
constexpr double gapReportedAboveMs = 95.0;
constexpr double smallestStep = 1.0 / 240;
constexpr double largestStep = 0.12;
constexpr double slowTickAboveMs = 6.0;

std::shared_ptr<PetAnimationClock>& sharedSlot() {
    static std::shared_ptr<PetAnimationClock> clock;
    return clock;
}

}  // namespace

void WeakViewTable::add(const std::shared_ptr<AnimatedView>& view) {
    if (view && !contains(view.get())) views_.push_back(view);
}

void WeakViewTable::remove(const AnimatedView* view) {
    std::erase_if(views_, [view](const auto& weak) {
        const auto live = weak.lock();
        return !live || live.get() == view;
    });
}

bool WeakViewTable::contains(const AnimatedView* view) const {
    return std::any_of(views_.begin(), views_.end(), [view](const auto& weak) { return weak.lock().get() == view; });
}

std::vector<std::shared_ptr<AnimatedView>> WeakViewTable::allObjects() const {
    std::vector<std::shared_ptr<AnimatedView>> live;
    for (const auto& weak : views_)
        if (auto view = weak.lock()) live.push_back(std::move(view));
    return live;
}

void WeakViewTable::collectLive(std::vector<std::shared_ptr<AnimatedView>>& live) {
    live.clear();
    std::erase_if(views_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : views_)
        if (auto view = weak.lock()) live.push_back(std::move(view));
}

bool WeakViewTable::isEmpty() const {
    return std::none_of(views_.begin(), views_.end(), [](const auto& weak) { return !weak.expired(); });
}

std::shared_ptr<PetAnimationClock> PetAnimationClock::make(Environment environment) {
    if (!environment.dispatcher) throw std::invalid_argument("PetAnimationClock needs a dispatcher");
    return std::shared_ptr<PetAnimationClock>(new PetAnimationClock(std::move(environment)));
}

PetAnimationClock::PetAnimationClock(Environment environment)
    : environment_(std::move(environment)), tickScheduler_(environment_.dispatcher->mainQueue()) {}

PetAnimationClock::~PetAnimationClock() {
    if (displayLink_) displayLink_->stop();  // joins: no callback outlives the clock
    if (fallbackTimer_) fallbackTimer_->cancel();
}

PetAnimationClock& PetAnimationClock::shared() {
    if (!sharedSlot()) throw std::logic_error("PetAnimationClock::shared() used before configureShared()");
    return *sharedSlot();
}

void PetAnimationClock::configureShared(Environment environment) { sharedSlot() = make(std::move(environment)); }

void PetAnimationClock::resetSharedForTesting() { sharedSlot().reset(); }

void PetAnimationClock::start() {
    if (displayLink_ || fallbackTimer_) return;
    const std::weak_ptr<PetAnimationClock> weak = weak_from_this();
    auto tickIfAlive = [weak] {
        if (auto clock = weak.lock()) clock->tick();
    };
    auto link = environment_.makeDisplayLink ? environment_.makeDisplayLink() : nullptr;
    if (link) {
        // The link's thread touches only the scheduler, which outlives it.
        link->setOutputCallback([this, tickIfAlive] { tickScheduler_.requestTick(tickIfAlive); });
        displayLink_ = std::move(link);
        displayLink_->start();
        return;
    }
    logPerformanceClockFallback();
    fallbackTimer_ =
        environment_.dispatcher->mainQueue()->scheduleTimer(fallbackInterval, fallbackTolerance, true, tickIfAlive);
}

void PetAnimationClock::stopIfIdle() {
    if (!views_.isEmpty()) return;
    if (displayLink_) displayLink_->stop();
    if (fallbackTimer_) fallbackTimer_->cancel();
    displayLink_.reset();
    fallbackTimer_.reset();
    lastTick_.reset();
    isTickPending_ = false;
}

void PetAnimationClock::tick() {
    if (isTickPending_) return;
    isTickPending_ = true;
    const platform::Clock& clock = environment_.dispatcher->clock();
    const std::uint64_t now = clock.monotonicNanos();

    double dt = firstStep;
    if (lastTick_) {
        const double gapMs = double(now - *lastTick_) / 1e6;
        if (gapMs > gapReportedAboveMs) logPerformanceTickGap(gapMs);
        dt = std::min(std::max(gapMs / 1000, smallestStep), largestStep);
    }
    lastTick_ = now;

    // A view may register or go away while the others advance: the views
    // of this tick are taken first and held until it ends.
    views_.collectLive(tickViews_);
    if (tickViews_.empty()) {
        stopIfIdle();
        isTickPending_ = false;
        return;
    }
    for (const auto& view : tickViews_) view->advanceAnimation(dt);
    const std::size_t advanced = tickViews_.size();
    tickViews_.clear();

    const double elapsedMs = double(clock.monotonicNanos() - now) / 1e6;
    if (elapsedMs > slowTickAboveMs) logPerformanceTickSlow(elapsedMs, advanced);
    isTickPending_ = false;
}

}  // namespace Mossbridge
