#pragma once
// One process-wide value per `Owner`, behind a mutex of its own: the shared
// instance of a class (`sharedInstance`, made on first use, and the one
// test-only hook that replaces or drops it) and the callbacks that a higher
// layer installs into a lower one at start-up.
//
// The value is made and replaced under the lock, and copied out of it, so a
// caller never runs the value with the lock held. A replaced value is
// released after the lock is let go, so its destructor may use the slot.

#include <memory>
#include <mutex>
#include <utility>

template <typename Owner, typename Value = std::shared_ptr<Owner>>
class APMSharedInstance {
public:
    APMSharedInstance() = delete;

    // The installed value (a copy); an empty one when none is.
    static Value current() {
        Slot& slot = instance();
        std::lock_guard lock(slot.mutex);
        return slot.value;
    }

    // The installed value; while none is, `make()` makes it (under the lock,
    // so that concurrent first uses make one value).
    template <typename Make>
    static Value currentOrMake(Make&& make) {
        Slot& slot = instance();
        std::lock_guard lock(slot.mutex);
        if (!slot.value) slot.value = std::forward<Make>(make)();
        return slot.value;
    }

    // Installs `value` (an empty one drops the installed value) and returns
    // the previous one.
    static Value exchange(Value value) {
        Slot& slot = instance();
        std::lock_guard lock(slot.mutex);
        return std::exchange(slot.value, std::move(value));
    }

    // As exchange(), the previous value released here, outside the lock.
    static void replace(Value value) { exchange(std::move(value)); }

private:
    struct Slot {
        std::mutex mutex;
        Value value;
    };

    // Made on first use, so no order of static initialisation matters.
    static Slot& instance() {
        static Slot slot;
        return slot;
    }
};
