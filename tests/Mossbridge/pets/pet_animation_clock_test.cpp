#include "Mossbridge/pets/PetAnimationClock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/DeterministicDispatch.h"

namespace Mossbridge {
namespace {

// A display link the test beats by hand; the test keeps its controls.
struct LinkControls {
    int created = 0;
    int started = 0;
    int stopped = 0;
    bool available = true;
    std::function<void()> callback;
    void beat() const {
        if (callback) callback();
    }
};

class FakeDisplayLink final : public platform::DisplayLink {
public:
    explicit FakeDisplayLink(LinkControls& controls) : controls_(controls) {}
    void setOutputCallback(std::function<void()> callback) override { controls_.callback = std::move(callback); }
    void start() override {
        ++controls_.started;
        running_ = true;
    }
    void stop() override {
        if (running_) ++controls_.stopped;
        running_ = false;
    }
    bool isRunning() const override { return running_; }

private:
    LinkControls& controls_;
    bool running_ = false;
};

class RecordingView final : public AnimatedView {
public:
    std::vector<double> steps;
    std::function<void()> during;
    void advanceAnimation(double dt) override {
        steps.push_back(dt);
        if (during) during();
    }
};

class PetAnimationClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
        resetPerformanceLogForTesting(&dispatcher.clock());
    }
    void TearDown() override {
        unsetenv("MOSSBRIDGE_PERF_LOGS");
        resetPerformanceLogForTesting();
    }

    std::shared_ptr<PetAnimationClock> makeClock() {
        return PetAnimationClock::make({&dispatcher, [this]() -> std::unique_ptr<platform::DisplayLink> {
                                            if (!link.available) return nullptr;
                                            ++link.created;
                                            return std::make_unique<FakeDisplayLink>(link);
                                        }});
    }
    std::shared_ptr<RecordingView> registerView(PetAnimationClock& clock) {
        auto view = std::make_shared<RecordingView>();
        clock.views().add(view);
        return view;
    }
    // Runs `work` and answers what it printed.
    template <typename Work>
    std::string output(Work work) {
        ::testing::internal::CaptureStdout();
        work();
        return ::testing::internal::GetCapturedStdout();
    }

    platform::DeterministicDispatcher dispatcher;
    LinkControls link;
};

TEST_F(PetAnimationClockTest, FirstTickAfterAStartStepsBySixtiethOfASecond) {
    auto clock = makeClock();
    auto view = registerView(*clock);
    clock->start();
    dispatcher.advance(5);  // however long before the first beat
    link.beat();
    dispatcher.drain();
    ASSERT_EQ(view->steps.size(), 1u);
    EXPECT_DOUBLE_EQ(view->steps[0], 1.0 / 60);
}

TEST_F(PetAnimationClockTest, LongGapsAreClampedAndReportedShortOnesRaised) {
    auto clock = makeClock();
    auto view = registerView(*clock);
    clock->start();
    clock->tick();
    dispatcher.advance(2);
    const std::string gap = output([&] { clock->tick(); });
    EXPECT_DOUBLE_EQ(view->steps.back(), 0.12);
    EXPECT_NE(gap.find("animation.tick.gap 2000.0ms"), std::string::npos) << gap;

    dispatcher.advance(0.001);
    const std::string quiet = output([&] { clock->tick(); });
    EXPECT_DOUBLE_EQ(view->steps.back(), 1.0 / 240);
    EXPECT_EQ(quiet, "");

    dispatcher.advance(0.095);  // exactly at the threshold: not reported
    EXPECT_EQ(output([&] { clock->tick(); }), "");
    EXPECT_DOUBLE_EQ(view->steps.back(), 0.095);
}

TEST_F(PetAnimationClockTest, SlowTicksAreReportedWithTheViewCount) {
    auto clock = makeClock();
    auto slow = registerView(*clock);
    auto other = registerView(*clock);
    slow->during = [&] { dispatcher.virtualClock().advance(0.007); };
    clock->start();
    const std::string line = output([&] { clock->tick(); });
    EXPECT_NE(line.find("animation.tick.slow 7.0ms views=2"), std::string::npos) << line;
    other->during = [] {};
    slow->during = [&] { dispatcher.virtualClock().advance(0.006); };
    EXPECT_EQ(output([&] { clock->tick(); }), "");  // 6.0 ms is not above the threshold
}

TEST_F(PetAnimationClockTest, ManyBeatsBeforeTheMainQueueRunsMakeOneTick) {
    auto clock = makeClock();
    auto view = registerView(*clock);
    clock->start();
    std::thread linkThread([&] {
        for (int i = 0; i < 50; ++i) link.beat();
    });
    linkThread.join();
    dispatcher.drain();
    EXPECT_EQ(view->steps.size(), 1u);
    link.beat();
    dispatcher.drain();
    EXPECT_EQ(view->steps.size(), 2u);
}

TEST_F(PetAnimationClockTest, BeatsDuringASlowTickAreDroppedAndTheNextBeatTicksOnce) {
    auto clock = makeClock();
    auto view = registerView(*clock);
    clock->start();
    view->during = [&] {
        if (view->steps.size() == 1)
            for (int i = 0; i < 10; ++i) link.beat();
    };
    link.beat();
    dispatcher.drain();
    EXPECT_EQ(view->steps.size(), 1u);
    link.beat();
    link.beat();
    dispatcher.drain();
    EXPECT_EQ(view->steps.size(), 2u);
}

TEST_F(PetAnimationClockTest, StartTwiceCreatesOneLinkAndStopIfIdleNeedsNoViews) {
    auto clock = makeClock();
    auto view = registerView(*clock);
    clock->start();
    clock->start();
    EXPECT_EQ(link.created, 1);
    clock->tick();
    clock->stopIfIdle();  // a view is still registered
    EXPECT_TRUE(clock->hasDisplayLink());
    clock->views().remove(view.get());
    clock->stopIfIdle();
    EXPECT_FALSE(clock->hasDisplayLink());
    EXPECT_FALSE(clock->lastTick());
    EXPECT_EQ(link.stopped, 1);

    clock->views().add(view);
    clock->start();
    EXPECT_EQ(link.created, 2);
    dispatcher.advance(3);
    clock->tick();
    EXPECT_DOUBLE_EQ(view->steps.back(), 1.0 / 60);  // a fresh first step after the stop
}

TEST_F(PetAnimationClockTest, ATickWithoutViewsStopsTheClock) {
    auto clock = makeClock();
    {
        auto released = registerView(*clock);
        clock->start();
        clock->tick();
    }  // released without being removed
    link.beat();
    dispatcher.drain();
    EXPECT_FALSE(clock->hasDisplayLink());
    EXPECT_EQ(link.stopped, 1);
}

TEST_F(PetAnimationClockTest, WithoutADisplayLinkATimerTicksSixtyTimesASecond) {
    link.available = false;
    auto clock = makeClock();
    auto view = registerView(*clock);
    const std::string line = output([&] { clock->start(); });
    EXPECT_NE(line.find("animation.clock.fallback reason=display-link-unavailable"), std::string::npos);
    ASSERT_TRUE(clock->hasFallbackTimer());
    dispatcher.advance(1.0);
    EXPECT_NEAR(double(view->steps.size()), 60, 1);
    EXPECT_DOUBLE_EQ(view->steps.front(), 1.0 / 60);

    clock->views().remove(view.get());
    clock->stopIfIdle();
    EXPECT_FALSE(clock->hasFallbackTimer());
    const auto before = view->steps.size();
    dispatcher.advance(1.0);
    EXPECT_EQ(view->steps.size(), before);
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(PetAnimationClockTest, ATickQueuedForAGoneClockDoesNothing) {
    auto clock = makeClock();
    auto view = registerView(*clock);
    clock->start();
    link.beat();
    clock.reset();
    dispatcher.drain();
    EXPECT_TRUE(view->steps.empty());
}

TEST(PetAnimationClockShared, IsConfiguredOnceAndResetByTests) {
    PetAnimationClock::resetSharedForTesting();
    EXPECT_THROW(PetAnimationClock::shared(), std::logic_error);
    platform::DeterministicDispatcher dispatcher;
    PetAnimationClock::configureShared({&dispatcher, {}});
    PetAnimationClock& first = PetAnimationClock::shared();
    EXPECT_EQ(&first, &PetAnimationClock::shared());
    PetAnimationClock::resetSharedForTesting();
}

TEST(WeakViewTable, HoldsViewsWeaklyOnceEach) {
    WeakViewTable table;
    auto a = std::make_shared<RecordingView>();
    auto b = std::make_shared<RecordingView>();
    table.add(a);
    table.add(a);
    table.add(b);
    EXPECT_EQ(table.allObjects().size(), 2u);
    b.reset();
    EXPECT_EQ(table.allObjects().size(), 1u);
    table.remove(a.get());
    EXPECT_TRUE(table.isEmpty());
}

}  // namespace
}  // namespace Mossbridge
