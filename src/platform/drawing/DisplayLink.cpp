#include "platform/drawing/DisplayLink.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

namespace {

class ThreadDisplayLink final : public DisplayLink {
public:
    explicit ThreadDisplayLink(double hertz)
        : period_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double>(1.0 / (hertz > 0 ? hertz : 60)))) {}
    ~ThreadDisplayLink() override { stop(); }

    void setOutputCallback(std::function<void()> callback) override {
        std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
    }

    void start() override {
        std::lock_guard lock(mutex_);
        if (running_) return;
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }

    void stop() override {
        {
            std::lock_guard lock(mutex_);
            if (!running_) return;
            running_ = false;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    bool isRunning() const override {
        std::lock_guard lock(mutex_);
        return running_;
    }

private:
    void run() {
        auto next = std::chrono::steady_clock::now() + period_;
        std::unique_lock lock(mutex_);
        while (running_) {
            if (wake_.wait_until(lock, next, [this] { return !running_; })) break;
            // A late beat does not make the link race to catch up.
            next = std::max(next + period_, std::chrono::steady_clock::now());
            auto callback = callback_;
            lock.unlock();
            if (callback) callback();
            lock.lock();
        }
    }

    const std::chrono::steady_clock::duration period_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> callback_;
    bool running_ = false;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DisplayLink> makeThreadDisplayLink(double hertz) { return std::make_unique<ThreadDisplayLink>(hertz); }

}  // namespace platform
