#include "platform/drawing/DisplayLink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {
namespace {

// The real link runs on its own thread, so this test waits for it (bounded).
TEST(ThreadDisplayLink, BeatsOnItsOwnThreadUntilStopped) {
    auto link = makeThreadDisplayLink(240);
    std::mutex mutex;
    std::condition_variable beat;
    int beats = 0;
    std::thread::id beatThread;
    link->setOutputCallback([&] {
        std::lock_guard lock(mutex);
        ++beats;
        beatThread = std::this_thread::get_id();
        beat.notify_all();
    });
    EXPECT_FALSE(link->isRunning());
    link->start();
    link->start();  // a second start changes nothing
    EXPECT_TRUE(link->isRunning());
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(beat.wait_for(lock, std::chrono::seconds(5), [&] { return beats >= 3; }));
        EXPECT_NE(beatThread, std::this_thread::get_id());
    }
    link->stop();
    EXPECT_FALSE(link->isRunning());
    std::lock_guard lock(mutex);
    const int afterStop = beats;
    // stop() joined the thread: nothing can run any more.
    EXPECT_EQ(beats, afterStop);
}

}  // namespace
}  // namespace platform
