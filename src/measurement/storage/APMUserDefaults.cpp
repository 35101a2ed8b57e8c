#include "measurement/storage/APMUserDefaults.h"

#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMSharedInstance.h"
#include "platform/core/UserDefaults.h"

APMUserDefaults::APMUserDefaults(const std::string& suiteName)
    : store_(suiteName.empty() ? platform::UserDefaults::standard() : platform::UserDefaults::suite(suiteName)) {}

APMUserDefaults::APMUserDefaults(std::shared_ptr<platform::UserDefaults> store) : store_(std::move(store)) {}

std::shared_ptr<APMUserDefaults> APMUserDefaults::sharedUserDefaults() {
    return APMSharedInstance<APMUserDefaults>::currentOrMake([] { return std::make_shared<APMUserDefaults>(); });
}

void APMUserDefaults::resetSharedForTesting() { APMSharedInstance<APMUserDefaults>::replace(nullptr); }

std::optional<platform::PropertyValue> APMUserDefaults::objectForKey(const std::string& key) const {
    if (key.empty()) {
        APMMonitor::shared()->log(1, 41001, "Cannot get object for invalid user default key.");
        return std::nullopt;
    }
    return store_->object(key);
}

std::optional<std::string> APMUserDefaults::stringForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value || !value->isString()) return std::nullopt;
    return *value->asString();
}

std::optional<platform::PropertyValue> APMUserDefaults::numberForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value || !(value->isNumber() || value->isBoolean())) return std::nullopt;
    return value;
}

bool APMUserDefaults::boolForKey(const std::string& key) const {
    auto value = numberForKey(key);
    if (!value) return false;
    if (auto flag = value->asBoolean()) return *flag;
    return value->asReal().value_or(0) != 0;
}

std::int64_t APMUserDefaults::integerForKey(const std::string& key) const {
    auto value = numberForKey(key);
    if (!value) return 0;
    if (auto flag = value->asBoolean()) return *flag ? 1 : 0;
    return value->asInteger().value_or(0);
}

double APMUserDefaults::doubleForKey(const std::string& key) const {
    auto value = numberForKey(key);
    if (!value) return 0;
    if (auto flag = value->asBoolean()) return *flag ? 1 : 0;
    return value->asReal().value_or(0);
}

bool APMUserDefaults::setObject(const APMObject* value, const std::string& key) {
    if (key.empty()) {
        APMMonitor::shared()->log(1, 41002, "Cannot set object for invalid user default key.");
        return false;
    }
    if (!value) return store_->remove(key);
    const auto* property = std::get_if<platform::PropertyValue>(value);
    if (!property) {
        APMMonitor::shared()->log(
            1, 41003, "Cannot set invalid object to user defaults. Must be a string or number or an array. Value %@",
            std::get<APMValue>(*value));
        return false;
    }
    return store_->set(key, *property);
}

bool APMUserDefaults::setObject(const platform::PropertyValue& value, const std::string& key) {
    APMObject object = value;
    return setObject(&object, key);
}

bool APMUserDefaults::setBool(bool value, const std::string& key) { return setObject(platform::PropertyValue(value), key); }

bool APMUserDefaults::setInteger(std::int64_t value, const std::string& key) {
    return setObject(platform::PropertyValue(static_cast<long long>(value)), key);
}

bool APMUserDefaults::setDouble(double value, const std::string& key) {
    return setObject(platform::PropertyValue(value), key);
}

bool APMUserDefaults::removeObjectForKey(const std::string& key) { return setObject(nullptr, key); }

void APMUserDefaults::clearAllData() {
    // A failed file write keeps the removal in memory; the next write of the
    // domain saves it.
    for (const auto& [key, value] : store_->dictionaryRepresentation()) (void)store_->remove(key);
}
