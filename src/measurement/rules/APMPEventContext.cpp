#include "measurement/rules/APMPEventContext.h"

namespace measurement::rules {

APMPEventContext::APMPEventContext(APMPEvent event) { setInputEvent(std::move(event)); }

void APMPEventContext::setInputEvent(APMPEvent event) {
    inputEvent_ = std::move(event);
    outputEvent_ = inputEvent_;
    loggedEvents_.clear();
}

void APMPEventContext::logEventWithName(std::string name, double timestamp,
                                        const platform::PropertyDictionary& parameters) {
    platform::PropertyDictionary normalized;
    for (const auto& [key, value] : parameters) {
        normalized.emplace(key, APMPNormalizedParameterValue(key, inputEvent_.parameterForName(key), value));
    }
    loggedEvents_.emplace_back(std::move(name), timestamp, std::move(normalized));
}

}  // namespace measurement::rules
