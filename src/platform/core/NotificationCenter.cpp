#include "platform/core/NotificationCenter.h"

#include <atomic>
#include <mutex>

namespace platform {

struct NotificationCenter::Observer {
    std::uint64_t id = 0;
    std::optional<std::string> name;
    const void* object = nullptr;
    QueueRef queue;
    Handler handler;
    std::atomic<bool> active{true};

    bool matches(const Notification& notification) const {
        if (name && *name != notification.name) return false;
        return object == nullptr || object == notification.object;
    }

    void deliver(const Notification& notification) const {
        if (active.load()) handler(notification);
    }
};

struct NotificationCenter::State {
    mutable std::mutex mutex;
    std::uint64_t lastId = 0;
    std::vector<std::shared_ptr<Observer>> observers;
};

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() {
    std::lock_guard lock(state_->mutex);
    for (auto& observer : state_->observers) observer->active = false;
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::resetDefaultCenterForTesting() {
    NotificationCenter& center = defaultCenter();
    std::lock_guard lock(center.state_->mutex);
    for (auto& observer : center.state_->observers) observer->active = false;
    center.state_->observers.clear();
}

NotificationObserverToken NotificationCenter::addObserver(std::optional<std::string> name, const void* object,
                                                          QueueRef queue, Handler handler) {
    auto observer = std::make_shared<Observer>();
    observer->name = std::move(name);
    observer->object = object;
    observer->queue = std::move(queue);
    observer->handler = std::move(handler);
    std::lock_guard lock(state_->mutex);
    observer->id = ++state_->lastId;
    state_->observers.push_back(observer);
    return NotificationObserverToken(observer->id);
}

void NotificationCenter::removeObserver(const NotificationObserverToken& token) {
    if (!token.isValid()) return;
    std::lock_guard lock(state_->mutex);
    auto& observers = state_->observers;
    for (auto it = observers.begin(); it != observers.end(); ++it) {
        if ((*it)->id != token.id_) continue;
        (*it)->active = false;
        observers.erase(it);
        return;
    }
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Observer>> recipients;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& observer : state_->observers) {
            if (observer->handler && observer->matches(notification)) recipients.push_back(observer);
        }
    }
    for (const auto& observer : recipients) {
        if (observer->queue) {
            observer->queue->async([observer, notification] { observer->deliver(notification); });
        } else {
            observer->deliver(notification);
        }
    }
}

void NotificationCenter::post(const std::string& name, const void* object,
                              std::optional<PropertyDictionary> userInfo) {
    post(Notification{name, object, std::move(userInfo)});
}

std::size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->observers.size();
}

}  // namespace platform
