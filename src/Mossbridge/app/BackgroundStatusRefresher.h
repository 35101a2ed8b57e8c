#pragma once
// Gathers badges and notifications off the main thread: one AppStatusService
// driven on a serial queue of its own, so a refresh and a clearing never
// overlap. A refresh asked for while one is inside the service is answered
// with nothing. Completions run on the refresher's queue; callers hop back to
// their own. Created on the main thread; `isRunning` and the service belong
// to the refresher's queue.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/system/AppStatusService.h"
#include "platform/core/Dispatch.h"

namespace Mossbridge {

class BackgroundStatusRefresher : public std::enable_shared_from_this<BackgroundStatusRefresher> {
public:
    using RefreshCompletion = std::function<void(std::optional<AppStatusMap>)>;
    using StatusesCompletion = std::function<void(AppStatusMap)>;

    static std::shared_ptr<BackgroundStatusRefresher> create(platform::Dispatcher& dispatcher,
                                                             std::unique_ptr<AppStatusService> service);

    // The service's statuses after one refresh, or none when a refresh was
    // already running.
    void refresh(std::vector<AppStatusTarget> targets, RefreshCompletion completion);
    // Records the clearing in the service and answers its statuses.
    void clearNotifications(std::string bundleIdentifier, std::int64_t recordID, StatusesCompletion completion);

    const platform::QueueRef& queue() const { return queue_; }

private:
    BackgroundStatusRefresher(platform::Dispatcher& dispatcher, std::unique_ptr<AppStatusService> service);
    std::optional<AppStatusMap> refreshOnQueue(const std::vector<AppStatusTarget>& targets);

    platform::Clock& clock_;
    platform::QueueRef queue_;
    std::unique_ptr<AppStatusService> service_;
    bool isRunning_ = false;
};

}  // namespace Mossbridge
