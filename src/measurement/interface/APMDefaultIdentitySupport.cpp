#include "measurement/interface/APMDefaultIdentitySupport.h"

#include "measurement/storage/APMMonitor.h"

namespace {

constexpr double kIdentifierWaitSeconds = 0.010;

}  // namespace

APMDefaultIdentitySupport::APMDefaultIdentitySupport(platform::Dispatcher& dispatcher,
                                                     std::shared_ptr<platform::AdvertisingIdentifier> component)
    : dispatcher_(dispatcher),
      component_(std::move(component)),
      queue_(dispatcher.makeSerialQueue("APMDefaultIdentitySupport")),
      cache_(std::make_shared<Cache>()) {
    auto monitor = APMMonitor::shared();
    if (!component_) {
        monitor->log(4, 44003,
                     "VadovaVarUradazaduroIdentitySupport dependency is not currently linked. IDFA will not be "
                     "accessible.");
        return;
    }
    monitor->log(7, 44000, "VadovaVarUradazaduroIdentitySupport dependency is linked.");
    if (component_->hasLimitedAdTracking()) {
        monitor->log(7, 44001, "The AdSupport Framework is linked.");
    } else {
        monitor->log(4, 44002,
                     "The AdSupport Framework is not currently linked. Some features will not function properly. "
                     "Learn more at https://vadova.example/docs/analytics/identity-support");
    }
}

bool APMDefaultIdentitySupport::hasAppDataConsentStatus() const {
    return component_ && component_->hasAppDataConsentStatus();
}

std::uint64_t APMDefaultIdentitySupport::appDataConsentStatus() const {
    return component_ ? component_->appDataConsentStatus() : ~std::uint64_t{0};
}

bool APMDefaultIdentitySupport::hasLimitedAdTracking() const { return component_ && component_->hasLimitedAdTracking(); }

bool APMDefaultIdentitySupport::limitedAdTracking() const {
    auto identifier = resettableDeviceID();
    return !identifier || *identifier == kAPMZeroAdvertisingIdentifier;
}

std::optional<std::string> APMDefaultIdentitySupport::resettableDeviceID() const {
    if (!component_) return std::nullopt;
    auto done = dispatcher_.makeSemaphore(0);
    queue_->async([component = component_, cache = cache_, done] {
        auto identifier = component->resettableDeviceID();
        {
            std::lock_guard lock(cache->mutex);
            cache->identifier = std::move(identifier);
        }
        done->signal();
    });
    // On time-out the identifier last cached is the answer; the late one lands there for the next call.
    (void)done->wait(kIdentifierWaitSeconds);
    std::lock_guard lock(cache_->mutex);
    return cache_->identifier;
}
