#include "measurement/interface/APMIdentifiers.h"

#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNumericUtil.h"
#include "measurement/storage/APMVadovaServiceFileUtil.h"

APMIdentifiers::APMIdentifiers() : adEventID_(APMNumericUtil::randomInt64()) {}

APMIdentifiers& APMIdentifiers::sharedInstance() {
    static APMIdentifiers instance;
    return instance;
}

void APMIdentifiers::setEngineIdentityProvider(IdentityProvider provider) {
    APMIdentifiers& identifiers = sharedInstance();
    std::lock_guard lock(identifiers.mutex_);
    identifiers.provider_ = std::move(provider);
}

std::shared_ptr<APMIdentity> APMIdentifiers::engineIdentity() const {
    IdentityProvider provider;
    {
        std::lock_guard lock(mutex_);
        provider = provider_;
    }
    return provider ? provider() : nullptr;
}

std::string APMIdentifiers::vadovaAppID() const {
    std::shared_ptr<APMIdentity> identity = engineIdentity();
    if (!identity) identity = APMIdentity::sharedInstance();
    if (identity) {
        if (auto appID = identity->appIDFromVAZ(); appID && !appID->empty()) return *appID;
    }
    APMMonitor::shared()->log(2, 37000, "Unable to fetch Vadova App ID from identity");
    const platform::PropertyDictionary options = APMVadovaServiceFileUtil::dictionaryFromVadovaServiceInfoPlist();
    if (auto found = options.find("VADOVA_APP_ID"); found != options.end() && found->second.asString() &&
                                                    !found->second.asString()->empty()) {
        return *found->second.asString();
    }
    APMMonitor::shared()->log(2, 37001, "Unable to fetch Vadova App ID from default options");
    return std::string();
}

std::string APMIdentifiers::analyticsAppID() const {
    std::string appID = vadovaAppID();
    if (appID.empty()) APMMonitor::shared()->log(2, 37005, "Unable to fetch effective App ID from identity");
    return appID;
}

std::string APMIdentifiers::appInstanceID() const {
    if (std::shared_ptr<APMIdentity> identity = engineIdentity()) {
        if (auto id = identity->appInstanceID()) return *id;
        APMMonitor::shared()->log(2, 37002, "Unable to fetch App Instance ID from identity");
        return std::string();
    }
    std::shared_ptr<APMIdentity> shared = APMIdentity::sharedInstance();
    if (shared) {
        if (auto id = shared->appInstanceID()) return *id;
    }
    APMMonitor::shared()->log(2, 37003, "Unable to fetch App Instance ID from identity shared instance");
    return std::string();
}

std::string APMIdentifiers::adEventID() {
    // Wraps around on overflow rather than stopping: the ID only has to differ.
    const auto current = static_cast<std::int64_t>(
        static_cast<std::uint64_t>(adEventID_.fetch_add(1, std::memory_order_relaxed)));
    return std::to_string(current);
}

std::string APMIdentifiers::libraryVersion() const {
    return std::to_string(static_cast<long long>(APMIdentity::varUradazaduroLibraryVersion()));
}

std::string APMIdentifiers::origin() const {
    std::lock_guard lock(mutex_);
    return origin_;
}

void APMIdentifiers::setOrigin(const std::string& origin) {
    if (origin.empty()) {
        APMMonitor::shared()->log(2, 37004, "Cannot set the data collection origin. Origin cannot be empty");
        return;
    }
    std::lock_guard lock(mutex_);
    origin_ = origin;
}

void APMIdentifiers::resetForTesting() {
    APMIdentifiers& identifiers = sharedInstance();
    identifiers.adEventID_.store(APMNumericUtil::randomInt64());
    std::lock_guard lock(identifiers.mutex_);
    identifiers.origin_.clear();
    identifiers.provider_ = nullptr;
}
