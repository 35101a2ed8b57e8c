#include "Mossbridge/app/BackgroundStatusRefresher.h"

#include "Mossbridge/model/PerformanceLog.h"

namespace Mossbridge {

namespace {

constexpr double kSlowBackgroundRefreshMilliseconds = 10.0;

}  // namespace

std::shared_ptr<BackgroundStatusRefresher> BackgroundStatusRefresher::create(
    platform::Dispatcher& dispatcher, std::unique_ptr<AppStatusService> service) {
    return std::shared_ptr<BackgroundStatusRefresher>(new BackgroundStatusRefresher(dispatcher, std::move(service)));
}

BackgroundStatusRefresher::BackgroundStatusRefresher(platform::Dispatcher& dispatcher,
                                                     std::unique_ptr<AppStatusService> service)
    : clock_(dispatcher.clock()),
      queue_(dispatcher.makeSerialQueue("Mossbridge.BackgroundStatusRefresher")),
      service_(std::move(service)) {}

void BackgroundStatusRefresher::refresh(std::vector<AppStatusTarget> targets, RefreshCompletion completion) {
    // The block keeps the refresher alive until it has answered, as a caller
    // awaiting it would.
    queue_->async([self = shared_from_this(), targets = std::move(targets), completion = std::move(completion)] {
        auto statuses = self->refreshOnQueue(targets);
        if (completion) completion(std::move(statuses));
    });
}

std::optional<AppStatusMap> BackgroundStatusRefresher::refreshOnQueue(const std::vector<AppStatusTarget>& targets) {
    if (isRunning_) {
        logPerformanceStatusRefreshSkip(targets.size());
        return std::nullopt;
    }
    isRunning_ = true;
    const std::uint64_t start = clock_.monotonicNanos();
    service_->refresh(targets);
    const double milliseconds = static_cast<double>(clock_.monotonicNanos() - start) / 1e6;
    if (milliseconds >= kSlowBackgroundRefreshMilliseconds) {
        logPerformanceDuration("status.refresh.background", milliseconds, "apps=" + std::to_string(targets.size()));
    }
    AppStatusMap statuses = service_->lastStatuses();
    isRunning_ = false;
    return statuses;
}

void BackgroundStatusRefresher::clearNotifications(std::string bundleIdentifier, std::int64_t recordID,
                                                   StatusesCompletion completion) {
    queue_->async([self = shared_from_this(), bundleIdentifier = std::move(bundleIdentifier), recordID,
                   completion = std::move(completion)] {
        self->service_->clearNotifications(bundleIdentifier, recordID);
        if (completion) completion(self->service_->lastStatuses());
    });
}

}  // namespace Mossbridge
