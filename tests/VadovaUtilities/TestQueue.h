#pragma once
// A queue for tests of code that answers from other threads: blocks posted
// from any thread wait until the test runs them, one by one, on its own
// thread, with the queue current while they run.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/core/Dispatch.h"

class TestQueue final : public platform::Queue {
public:
    explicit TestQueue(std::string label = "test.queue") : label_(std::move(label)) {}

    const std::string& label() const override { return label_; }
    bool isCurrent() const override { return running_ && runner_ == std::this_thread::get_id(); }

    void async(platform::Block block) override {
        {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
        }
        arrived_.notify_all();
    }
    void sync(platform::Block block) override { block(); }
    void after(double, platform::Block) override { ADD_FAILURE() << "TestQueue does not run delayed blocks"; }
    platform::TimerRef scheduleTimer(double, double, bool, platform::Block) override {
        ADD_FAILURE() << "TestQueue has no timers";
        return nullptr;
    }

    // Waits (at most `seconds` of real time) for a block and runs it here.
    bool runNext(double seconds = 10.0) {
        platform::Block block;
        {
            std::unique_lock lock(mutex_);
            if (!arrived_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return !blocks_.empty(); })) {
                return false;
            }
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        runner_ = std::this_thread::get_id();
        running_ = true;
        block();
        running_ = false;
        return true;
    }

    std::size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return blocks_.size();
    }

private:
    std::string label_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<platform::Block> blocks_;
    std::thread::id runner_;
    bool running_ = false;
};
