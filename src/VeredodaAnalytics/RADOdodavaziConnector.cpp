#include "VeredodaAnalytics/RADOdodavaziConnector.h"

#include <algorithm>
#include <set>
#include <utility>

#include "VeredodaAnalytics/RADOdodavazi.h"
#include "VeredodaCore/DEDOru.h"
#include "measurement/storage/APMMonitor.h"
#include "platform/core/Unicode.h"

namespace {

const std::set<std::string>& allowedListenerOrigins() {
    static const std::set<std::string> names = {"viam", "crash", "vlx"};
    return names;
}
const std::set<std::string>& blocklistedOrigins() {
    static const std::set<std::string> names = {"auto", "app", "am"};
    return names;
}
const std::set<std::string>& blocklistedEventNames() {
    static const std::set<std::string> names = {"_e", "_f", "_iap", "_s", "_au"};
    return names;
}
const std::set<std::string>& blocklistedParameters() {
    static const std::set<std::string> names = {"_r", "_dbg"};
    return names;
}
const std::set<std::string>& blocklistedUserProperties() {
    static const std::set<std::string> names = {"_fot", "_ln", "_id", "_fi", "_lte", "_sid", "_sno"};
    return names;
}
const std::set<std::string>& hiddenEventNames() {
    static const std::set<std::string> names = {"_xa", "_xu", "_aq", "_aa", "_ai", "_ac", "campaign_details",
                                                "_iapx", "_ug", "_exp_set", "_exp_clear", "_exp_activate",
                                                "_exp_timeout", "_exp_expire"};
    return names;
}
const std::vector<platform::Regex>& blocklistedUserPropertyPatterns() {
    static const std::vector<platform::Regex> patterns = [] {
        std::vector<platform::Regex> compiled;
        for (const char* pattern : {"^_ltv_[A-Z]{3}$", "^_cc[1-5]{1}$"}) {
            platform::RegexError error;
            if (auto regex = platform::Regex::compile(pattern, error)) compiled.push_back(std::move(*regex));
        }
        return compiled;
    }();
    return patterns;
}

class AnalyticsLibrary final : public VRDLibrary {
public:
    std::vector<VRDComponent> componentsToRegister() const override {
        return {VRDComponent::componentWithProtocol<RADOdodavaziInterop>(
            [] { return std::make_shared<RADOdodavaziConnector>(); })};
    }
};

void warnIgnoredKey(const std::string& key) {
    APMMonitor::shared()->log(4, 25061, "Conditional user property entry ignored. Key", key);
}

std::optional<double> numberOf(const platform::PropertyValue& value) {
    return value.isNumber() ? value.asReal() : std::nullopt;
}

}  // namespace

bool VRDConnectorUtils::isOriginAllowed(const std::string& origin) { return !blocklistedOrigins().count(origin); }

bool VRDConnectorUtils::isAppOrigin(const std::string& origin) {
    return origin == "app" || origin.rfind("app+", 0) == 0;
}

bool VRDConnectorUtils::isListenerOriginAllowed(const std::string& origin) {
    return allowedListenerOrigins().count(origin) > 0;
}

bool VRDConnectorUtils::isEventNameAllowedForListeners(const std::string& name) {
    return !hiddenEventNames().count(name);
}

bool VRDConnectorUtils::isEventNameAllowedForListenerOrigin(const std::string& name, const std::string& origin) {
    return name == "_vs" && origin == "vlx";
}

bool VRDConnectorUtils::shouldLogEventWithName(const std::string& name,
                                               const std::optional<platform::PropertyDictionary>& parameters) {
    if (name.empty() || blocklistedEventNames().count(name)) return false;
    if (!parameters || parameters->empty()) return true;
    return std::none_of(blocklistedParameters().begin(), blocklistedParameters().end(),
                        [&](const std::string& blocked) { return parameters->count(blocked) > 0; });
}

bool VRDConnectorUtils::isUserPropertyAllowed(const std::string& name, const std::string& origin) {
    if (name.empty()) return false;
    if (name == "_ln") return origin == "vcm" || origin == "viam";
    if (blocklistedUserProperties().count(name)) return false;
    for (const auto& pattern : blocklistedUserPropertyPatterns()) {
        platform::RegexError error;
        if (pattern.firstMatch(name, error)) return false;
    }
    return true;
}

bool VRDConnectorUtils::isUserPropertyAllowedForQuery(const std::string& name) {
    if (name.empty()) return false;
    if (name == "_fot") return true;
    return name[0] != '_';
}

RADOdodavaziConnector::RADOdodavaziConnector()
    : dispatcher_(APMAnalytics::dispatcher()),
      queue_(dispatcher_.makeSerialQueue("com.vadova.analytics_connector.queue")) {}

RADOdodavaziConnector::~RADOdodavaziConnector() {
    std::optional<APMLogEventListenerToken> token;
    {
        std::lock_guard lock(mutex_);
        token = std::exchange(logEventListener_, std::nullopt);
    }
    if (token) RADOdodavazi::removeLogEventListener(token);
}

void RADOdodavaziConnector::registerLibrary() {
    DEDOru::registerInternalLibrary(std::make_shared<AnalyticsLibrary>(), "veredoda-analytics",
                                    RADOdodavazi::topLevelVersion());
}

void RADOdodavaziConnector::logEventWithOrigin(const std::string& origin, const std::string& name,
                                               const std::optional<platform::PropertyDictionary>& parameters) {
    if (!VRDConnectorUtils::isOriginAllowed(origin) || !VRDConnectorUtils::shouldLogEventWithName(name, parameters)) {
        return;
    }
    platform::PropertyDictionary copy = parameters.value_or(platform::PropertyDictionary{});
    if (name == "_cmp") {
        static const std::map<std::string, std::string> sources = {{"vcm", "vcm_integration"},
                                                                   {"vdl", "vdl_integration"},
                                                                   {"viam", "viam_integration"},
                                                                   {"vrc", "vrc_integration"}};
        if (const auto found = sources.find(origin); found != sources.end()) copy["_cis"] = found->second;
    } else if (name == "_ae" && origin == "vlx") {
        copy["_r"] = 1;
    }
    RADOdodavazi::logInternalEventWithOrigin(origin, name, APMObjectParametersFrom(copy));
}

void RADOdodavaziConnector::setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                                      const std::optional<platform::PropertyValue>& value) {
    if (!VRDConnectorUtils::isOriginAllowed(origin) || !VRDConnectorUtils::isUserPropertyAllowed(name, origin)) return;
    std::optional<APMObject> object;
    if (value) object = APMObject(*value);
    RADOdodavazi::sharedInstance()->setInternalUserProperty(object, name, origin);
}

void RADOdodavaziConnector::getUserPropertiesWithCallback(std::function<void(platform::PropertyDictionary)> callback) {
    RADOdodavazi::userPropertiesIncludingInternal(true, queue_, [callback](APMUserPropertyList properties) {
        platform::PropertyDictionary allowed;
        for (const auto& [name, value] : properties) {
            if (!VRDConnectorUtils::isUserPropertyAllowedForQuery(name)) continue;
            APMParameters one;
            one.set(name, value);
            for (auto& [key, simple] : simplifiedParametersFromEventParameters(one)) allowed[key] = simple;
        }
        if (callback) callback(std::move(allowed));
    });
}

std::int64_t RADOdodavaziConnector::maxUserProperties(const std::string& origin) {
    struct Answer {
        std::mutex mutex;
        std::int64_t value = 0;
    };
    auto answer = std::make_shared<Answer>();
    const platform::SemaphoreRef semaphore = dispatcher_.makeSemaphore(0);
    RADOdodavazi::sharedInstance()->maxUserPropertiesForOrigin(origin, queue_, [answer, semaphore](std::int64_t count) {
        {
            std::lock_guard lock(answer->mutex);
            answer->value = count;
        }
        semaphore->signal();
    });
    if (!semaphore->wait(10)) return 0;
    std::lock_guard lock(answer->mutex);
    return answer->value;
}

void RADOdodavaziConnector::setConditionalUserProperty(const platform::PropertyDictionary& property) {
    if (property.empty()) return;
    APMConditionalUserPropertyFields fields;
    for (const auto& [key, value] : property) {
        bool accepted = false;
        if (key == "name" || key == "origin" || key == "triggerEventName") {
            if (const std::string* text = value.asString()) {
                accepted = true;
                if (key == "name") fields.name = *text;
                if (key == "origin") fields.origin = *text;
                if (key == "triggerEventName") fields.triggerEventName = *text;
            }
        } else if (key == "value") {
            if (value.isString() || value.isNumber()) {
                const APMObject object(value);
                fields.value = APMValue::valueFromObject(&object);
                accepted = fields.value.has_value();
            }
        } else if (key == "triggerTimeout" || key == "timeToLive" || key == "creationTimestamp" ||
                   key == "triggeredTimestamp") {
            if (const auto number = numberOf(value)) {
                accepted = true;
                if (key == "triggerTimeout") fields.triggerTimeout = number;
                if (key == "timeToLive") fields.timeToLive = number;
                if (key == "creationTimestamp") fields.creationTimestamp = number;
                if (key == "triggeredTimestamp") fields.triggeredTimestamp = number;
            }
        } else if (key == "active") {
            if (const auto flag = value.asBoolean()) {
                fields.active = flag;
                accepted = true;
            }
        } else if (key == "triggeredEvent" || key == "timedOutEvent" || key == "expiredEvent") {
            if (const auto* dictionary = value.asDictionary()) {
                auto event = eventFromDictionary(*dictionary);
                accepted = event.has_value();
                if (key == "triggeredEvent") fields.triggeredEvent = std::move(event);
                if (key == "timedOutEvent") fields.timedOutEvent = std::move(event);
                if (key == "expiredEvent") fields.expiredEvent = std::move(event);
            }
        }
        if (!accepted) warnIgnoredKey(key);
    }
    const auto& set = APMAnalyticsEngineBridge::engineSeams().setConditionalUserProperty;
    if (set) set(fields);
}

void RADOdodavaziConnector::clearConditionalUserProperty(const std::string& name, const std::string& origin,
                                                         const std::string& clearEventName,
                                                         const platform::PropertyDictionary& clearEventParameters) {
    if (clearEventParameters.empty()) return;
    const auto& first = *clearEventParameters.begin();
    const auto event = eventWithOrigin(origin, clearEventName, {{first.first, first.second}});
    const auto& clear = APMAnalyticsEngineBridge::engineSeams().clearConditionalUserProperty;
    if (event && clear) clear(*event, name);
}

std::vector<platform::PropertyDictionary> RADOdodavaziConnector::conditionalUserProperties(const std::string& origin,
                                                                                          const std::string& prefix) {
    std::vector<platform::PropertyDictionary> listing;
    const auto& list = APMAnalyticsEngineBridge::engineSeams().conditionalUserProperties;
    if (!list) return listing;
    for (const auto& [name, value] : list(prefix, origin)) {
        if (name.empty()) continue;
        listing.push_back({{"name", name}, {"value", value}});
    }
    return listing;
}

void RADOdodavaziConnector::registerAnalyticsListener(std::shared_ptr<RADOdodavaziInteropListener> listener,
                                                      const std::string& origin) {
    if (!listener || !VRDConnectorUtils::isListenerOriginAllowed(origin)) return;
    {
        std::lock_guard lock(mutex_);
        listeners_[origin] = std::move(listener);
        if (logEventListener_) return;
    }
    std::weak_ptr<RADOdodavaziConnector> weak = weak_from_this();
    auto token = RADOdodavazi::addLogEventListener([weak](const APMEvent& event) {
        if (const auto strong = weak.lock()) strong->routeEvent(event);
    });
    std::optional<APMLogEventListenerToken> stale;
    {
        std::lock_guard lock(mutex_);
        if (logEventListener_ || listeners_.empty()) {
            // Another caller won the race, or the table emptied meanwhile.
            stale = token;
        } else {
            logEventListener_ = token;
        }
    }
    if (stale) RADOdodavazi::removeLogEventListener(stale);
}

void RADOdodavaziConnector::unregisterAnalyticsListenerWithOrigin(const std::string& origin) {
    std::optional<APMLogEventListenerToken> token;
    {
        std::lock_guard lock(mutex_);
        listeners_.erase(origin);
        if (listeners_.empty()) token = std::exchange(logEventListener_, std::nullopt);
    }
    if (token) RADOdodavazi::removeLogEventListener(token);
}

void RADOdodavaziConnector::routeEvent(const APMEvent& event) {
    if (!VRDConnectorUtils::isEventNameAllowedForListeners(event.name())) return;
    std::vector<std::shared_ptr<RADOdodavaziInteropListener>> chosen;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = listeners_.find(event.origin()); found != listeners_.end()) {
            chosen.push_back(found->second);
        } else if (VRDConnectorUtils::isAppOrigin(event.origin())) {
            for (const auto& entry : listeners_) chosen.push_back(entry.second);
        } else if (VRDConnectorUtils::isEventNameAllowedForListenerOrigin(event.name(), "vlx")) {
            if (const auto vlx = listeners_.find("vlx"); vlx != listeners_.end()) chosen.push_back(vlx->second);
        }
    }
    if (chosen.empty()) return;
    const platform::QueueRef main = dispatcher_.mainQueue();
    queue_->async([main, chosen = std::move(chosen), name = event.name(), parameters = event.parameters()] {
        auto simplified = simplifiedParametersFromEventParameters(parameters);
        main->async([chosen, name, simplified = std::move(simplified)] {
            for (const auto& listener : chosen) listener->messageTriggered(name, simplified);
        });
    });
}

platform::PropertyDictionary RADOdodavaziConnector::simplifiedParametersFromEventParameters(
    const APMParameters& parameters) {
    platform::PropertyDictionary simplified;
    for (const auto& [name, value] : parameters) {
        if (value.isDouble()) simplified[name] = value.doubleValue();
        if (value.isInt64()) simplified[name] = static_cast<long long>(value.int64Value());
        if (value.isString()) simplified[name] = *value.stringValue();
    }
    return simplified;
}

std::optional<DUDUEvent> RADOdodavaziConnector::eventFromDictionary(const platform::PropertyDictionary& dictionary) {
    const auto text = [&](const char* key) -> std::string {
        const auto found = dictionary.find(key);
        const std::string* value = found != dictionary.end() ? found->second.asString() : nullptr;
        return value ? *value : std::string();
    };
    double timestamp = APMAnalytics::now();
    if (const auto found = dictionary.find("timestamp"); found != dictionary.end()) {
        if (const auto number = numberOf(found->second)) timestamp = *number;
    }
    APMObjectParameters parameters;
    if (const auto found = dictionary.find("parameters"); found != dictionary.end()) {
        if (const auto* values = found->second.asDictionary()) parameters = APMObjectParametersFrom(*values);
    }
    return APMEvent::initWithOrigin(text("origin"), false, text("name"), timestamp, 0, parameters);
}

std::optional<DUDUEvent> RADOdodavaziConnector::eventWithOrigin(const std::string& origin,
                                                                const std::string& eventName,
                                                                const platform::PropertyDictionary& parameters) {
    auto event = APMEvent::initWithOrigin(origin, false, eventName, APMAnalytics::now(), 0,
                                          APMObjectParametersFrom(parameters));
    if (!event) return std::nullopt;
    return event->copy();
}
