#pragma once
// An in-process notification centre. A notification has a name, an optional
// sender (an opaque object tag compared by address) and an optional user-info
// property-list dictionary (none and empty are different notifications).
// Observers choose a name (or every name), a sender (or any sender) and a
// queue to be called on, or none to be called synchronously on the posting
// thread. Observers are called in the order they were added. Once
// removeObserver() returns, the observer is not called again, not even for
// posts already under way or deliveries already queued (only a delivery that
// another thread has begun at that very moment may still run); an observer
// removed by another observer's handler during a post is therefore skipped.
// Thread-safe; no lock is held while handlers run.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Dispatch.h"
#include "platform/core/PropertyList.h"

namespace platform {

struct Notification {
    std::string name;
    const void* object = nullptr;
    std::optional<PropertyDictionary> userInfo;  // none: posted without a dictionary
};

// Identifies one observer registration; default-constructed tokens identify
// nothing.
class NotificationObserverToken {
public:
    NotificationObserverToken() = default;
    bool isValid() const { return id_ != 0; }
    bool operator==(const NotificationObserverToken&) const = default;

private:
    friend class NotificationCenter;
    explicit NotificationObserverToken(std::uint64_t id) : id_(id) {}
    std::uint64_t id_ = 0;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process's default centre.
    static NotificationCenter& defaultCenter();
    // Test hook: removes every observer of the default centre.
    static void resetDefaultCenterForTesting();

    // `name` nullopt: every name; `object` null: any sender; `queue` null:
    // synchronous delivery.
    NotificationObserverToken addObserver(std::optional<std::string> name, const void* object, QueueRef queue,
                                          Handler handler);
    // Removing an unknown or already removed token does nothing.
    void removeObserver(const NotificationObserverToken& token);

    void post(const Notification& notification);
    void post(const std::string& name, const void* object = nullptr,
              std::optional<PropertyDictionary> userInfo = std::nullopt);

    std::size_t observerCount() const;

private:
    struct Observer;
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
