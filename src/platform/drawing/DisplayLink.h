#pragma once
// A source of display refresh callbacks. The callback runs on the link's
// own thread, never on the main thread: it must only hand work over.

#include <functional>
#include <memory>

namespace platform {

class DisplayLink {
public:
    virtual ~DisplayLink() = default;
    // Set before start(); replaced callbacks take effect at the next beat.
    virtual void setOutputCallback(std::function<void()> callback) = 0;
    virtual void start() = 0;
    // Returns once no callback is running and none will start.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

// Creates a display link, or answers null when there is no display to follow.
using DisplayLinkFactory = std::function<std::unique_ptr<DisplayLink>()>;

// A link that beats `hertz` times a second on a thread of its own.
std::unique_ptr<DisplayLink> makeThreadDisplayLink(double hertz);

}  // namespace platform
