// The typed settings of APMRemoteConfig: the generic, lazily converting
// lookups and one accessor per key of APMRemoteConfigSettings.h.

#include <charconv>
#include <cmath>
#include <limits>

#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMMonitor.h"

namespace {

long double asLongDouble(const APMSettingNumber& number) {
    return std::visit([](auto value) { return static_cast<long double>(value); }, number);
}

double asDouble(const APMSettingNumber& number) {
    return std::visit([](auto value) { return static_cast<double>(value); }, number);
}

// The 64-bit integer of a number: a real is truncated toward zero and held
// within the integer's range.
std::int64_t asInt64(const APMSettingNumber& number) {
    if (const auto* integer = std::get_if<std::int64_t>(&number)) return *integer;
    const double real = std::get<double>(number);
    if (std::isnan(real)) return 0;
    if (real >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (real <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(real);
}

std::int32_t asInt32(const APMSettingNumber& number) {
    const std::int64_t value = asInt64(number);
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<APMSettingNumber> APMRemoteConfig::numberFromString(const std::string& text) {
    // The decimal rule first, so that only "[+-]digits[.digits]" reaches the
    // parser; from_chars reads it the same whatever the process locale.
    if (!APMIsDecimalNumberString(text)) return std::nullopt;
    std::string_view digits(text);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.find('.') == std::string_view::npos) {
        std::uint64_t magnitude = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        if (error == std::errc() && end == digits.data() + digits.size()) {
            if (!negative && magnitude <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return APMSettingNumber(static_cast<std::int64_t>(magnitude));
            }
            if (negative && magnitude <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) {
                return APMSettingNumber(static_cast<std::int64_t>(0 - magnitude));
            }
        }
    }
    double real = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), real);
    if (end != digits.data() + digits.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        real = std::numeric_limits<double>::infinity();
    } else if (error != std::errc()) {
        return std::nullopt;
    }
    if (std::isnan(real)) return std::nullopt;
    return APMSettingNumber(negative ? -real : real);
}

std::string APMRemoteConfig::settingText(const APMSettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    const APMSettingNumber& number = std::get<APMSettingNumber>(value);
    if (const auto* integer = std::get_if<std::int64_t>(&number)) return std::to_string(*integer);
    return APMDecimalText(std::get<double>(number));
}

std::optional<APMSettingValue> APMRemoteConfig::cacheValue(const std::optional<APMSettingValue>& value,
                                                            std::string_view key) const {
    if (!value || key.empty()) {
        APMMonitor::shared()->log(5, 29019, "Cannot cache empty configuration value");
        return std::nullopt;
    }
    std::shared_ptr<SettingsCache> settings;
    {
        std::lock_guard lock(mutex_);
        settings = settings_;
    }
    settings->setObject(*value, std::string(key));
    return value;
}

std::optional<APMSettingNumber> APMRemoteConfig::numberFromCache(std::string_view key,
                                                                 const APMSettingNumber& defaultValue,
                                                                 std::optional<double> maxValue,
                                                                 std::optional<double> minValue,
                                                                 const Converter& converter) const {
    if (key.empty()) {
        APMMonitor::shared()->log(7, 29020, "Cannot get setting with empty key from cache");
        return std::nullopt;
    }
    std::shared_ptr<SettingsCache> settings;
    {
        std::lock_guard lock(mutex_);
        settings = settings_;
    }
    const std::optional<APMSettingValue> cached = settings->objectForKeyedSubscript(key);
    if (!cached) {
        (void)cacheValue(APMSettingValue(defaultValue), key);
        return defaultValue;
    }
    if (const auto* number = std::get_if<APMSettingNumber>(&*cached)) return *number;
    std::optional<APMSettingNumber> result = numberFromString(std::get<std::string>(*cached));
    if (result && converter) result = converter(*result);
    if (!result || (minValue && asLongDouble(*result) < static_cast<long double>(*minValue)) ||
        (maxValue && asLongDouble(*result) > static_cast<long double>(*maxValue))) {
        result = defaultValue;
    }
    (void)cacheValue(APMSettingValue(*result), key);
    return result;
}

namespace {

// Configured milliseconds to seconds: the whole milliseconds over 1000.
APMSettingNumber millisecondsToSeconds(const APMSettingNumber& number) {
    return APMSettingNumber(static_cast<double>(asInt64(number)) / 1000.0);
}

}  // namespace

double APMRemoteConfig::timeIntervalInSecondsFromCache(std::string_view key, double defaultValue, double maxValue,
                                                       double minValue) const {
    const auto number = numberFromCache(key, APMSettingNumber(defaultValue), maxValue, minValue, millisecondsToSeconds);
    return number ? asDouble(*number) : 0;
}

std::int32_t APMRemoteConfig::intValueFromCache(std::string_view key, std::int32_t defaultValue,
                                                std::int32_t maxValue, std::int32_t minValue) const {
    const auto number = numberFromCache(key, APMSettingNumber(std::int64_t{defaultValue}), maxValue, minValue, {});
    return number ? asInt32(*number) : 0;
}

std::int64_t APMRemoteConfig::int64ValueFromCache(std::string_view key, std::int64_t defaultValue,
                                                  std::int64_t maxValue, std::int64_t minValue) const {
    const auto number = numberFromCache(key, APMSettingNumber(defaultValue), static_cast<double>(maxValue),
                                        static_cast<double>(minValue), {});
    return number ? asInt64(*number) : 0;
}

std::int64_t APMRemoteConfig::int64ValueFromCache(std::string_view key, std::int64_t defaultValue) const {
    const auto number = numberFromCache(key, APMSettingNumber(defaultValue), std::nullopt, std::nullopt, {});
    return number ? asInt64(*number) : 0;
}

bool APMRemoteConfig::boolValueFromCache(std::string_view key, bool defaultValue) const {
    return intValueFromCache(key, defaultValue ? 1 : 0, 1, 0) == 1;
}

bool APMRemoteConfig::flaggedBool(const char* flag, const char* key, bool defaultValue) const {
    if (const std::optional<bool> value = experimentFlags_.objectForKeyedSubscript(flag)) return *value;
    return boolValueFromCache(key, defaultValue);
}

#define APM_DEFINE_INT(name, key, def, min, max) \
    std::int32_t APMRemoteConfig::name() const { return intValueFromCache(key, def, max, min); }
#define APM_DEFINE_INT64(name, key, def, min, max) \
    std::int64_t APMRemoteConfig::name() const { return int64ValueFromCache(key, def, max, min); }
#define APM_DEFINE_INTERVAL(name, key, def, min, max) \
    double APMRemoteConfig::name() const { return timeIntervalInSecondsFromCache(key, def, max, min); }
#define APM_DEFINE_BOOL(name, key, def) \
    bool APMRemoteConfig::name() const { return boolValueFromCache(key, def); }
#define APM_DEFINE_FLAGGED_BOOL(name, key, flag, def) \
    bool APMRemoteConfig::name() const { return flaggedBool(flag, key, def); }
APM_REMOTE_CONFIG_INT_SETTINGS(APM_DEFINE_INT)
APM_REMOTE_CONFIG_INT64_SETTINGS(APM_DEFINE_INT64)
APM_REMOTE_CONFIG_INTERVAL_SETTINGS(APM_DEFINE_INTERVAL)
APM_REMOTE_CONFIG_BOOL_SETTINGS(APM_DEFINE_BOOL)
APM_REMOTE_CONFIG_FLAGGED_BOOL_SETTINGS(APM_DEFINE_FLAGGED_BOOL)
#undef APM_DEFINE_INT
#undef APM_DEFINE_INT64
#undef APM_DEFINE_INTERVAL
#undef APM_DEFINE_BOOL
#undef APM_DEFINE_FLAGGED_BOOL

std::int32_t APMRemoteConfig::maxPSMStartCount() const {
    if (APMMonitor::shared()->isDebugModeEnabled()) return 10;
    return intValueFromCache(kAPMPSMStartCountKey, 3, 10, 0);
}

std::int32_t APMRemoteConfig::maxBundlesCreatedPerIteration() const {
    return static_cast<std::int32_t>(timeIntervalInSecondsFromCache(kAPMMaxBundlesCreatedPerIterationKey, 100, 10000, 1));
}

std::int32_t APMRemoteConfig::maxInternalEventParameterValueLength() const {
    return std::max(maxPublicEventParameterValueLength(), 256);
}

const std::vector<APMRemoteConfig::SettingDescriptor>& APMRemoteConfig::settingDescriptors() {
    static const std::vector<SettingDescriptor> descriptors = [] {
        std::vector<SettingDescriptor> list;
#define APM_DESCRIBE_INT(name, key, def, min, max) \
    list.push_back({#name, key, SettingKind::Int, def, min, max, nullptr, [](const APMRemoteConfig& c) { return double(c.name()); }});
#define APM_DESCRIBE_INT64(name, key, def, min, max) \
    list.push_back({#name, key, SettingKind::Int64, def, min, max, nullptr, [](const APMRemoteConfig& c) { return double(c.name()); }});
#define APM_DESCRIBE_INTERVAL(name, key, def, min, max) \
    list.push_back({#name, key, SettingKind::Interval, def, min, max, nullptr, [](const APMRemoteConfig& c) { return c.name(); }});
#define APM_DESCRIBE_BOOL(name, key, def) \
    list.push_back({#name, key, SettingKind::Bool, def ? 1.0 : 0.0, 0, 1, nullptr, [](const APMRemoteConfig& c) { return c.name() ? 1.0 : 0.0; }});
#define APM_DESCRIBE_FLAGGED_BOOL(name, key, flag, def) \
    list.push_back({#name, key, SettingKind::Bool, def ? 1.0 : 0.0, 0, 1, flag, [](const APMRemoteConfig& c) { return c.name() ? 1.0 : 0.0; }});
        APM_REMOTE_CONFIG_INT_SETTINGS(APM_DESCRIBE_INT)
        APM_REMOTE_CONFIG_INT64_SETTINGS(APM_DESCRIBE_INT64)
        APM_REMOTE_CONFIG_INTERVAL_SETTINGS(APM_DESCRIBE_INTERVAL)
        APM_REMOTE_CONFIG_BOOL_SETTINGS(APM_DESCRIBE_BOOL)
        APM_REMOTE_CONFIG_FLAGGED_BOOL_SETTINGS(APM_DESCRIBE_FLAGGED_BOOL)
#undef APM_DESCRIBE_INT
#undef APM_DESCRIBE_INT64
#undef APM_DESCRIBE_INTERVAL
#undef APM_DESCRIBE_BOOL
#undef APM_DESCRIBE_FLAGGED_BOOL
        return list;
    }();
    return descriptors;
}
