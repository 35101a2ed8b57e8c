#include "measurement/interface/APMEventParameterRules.h"

#include <array>

#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMErrorEvents.h"
#include "measurement/interface/APMEvent.h"
#include "measurement/interface/APMEventNames.h"
#include "measurement/interface/APMValidationLimits.h"
#include "measurement/storage/APMMonitor.h"

namespace {

constexpr std::array kScreenParameters = {kAPMScreenNameParameter, kAPMScreenClassParameter,
                                          kAPMScreenInstanceIDParameter};

// Drops "value" and records why, with "_ev" naming the parameter at fault.
bool discardValue(APMParameters& parameters, std::int64_t code, const char* culprit) {
    parameters.erase("value");
    const auto limit = static_cast<std::size_t>(APMCurrentValidationLimits().maxInternalEventParameterValueLength);
    APMRecordError(parameters, code, culprit, limit, nullptr);
    return false;
}

}  // namespace

bool APMCheckValueAndCurrency(APMParameters& parameters, bool valueRequired) {
    const APMValue* value = parameters.find("value");
    if (!valueRequired && !value) return true;
    if (!APMDataTypeValidator::isValidNumericValue(value, nullptr)) {
        return discardValue(parameters, APMErrorCodeValueIsNotNumeric, "value");
    }
    if (!APMDataTypeValidator::isValidCurrencyCode(parameters.find("currency"), nullptr)) {
        APMMonitor::shared()->log(3, 18014,
                                  "Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code "
                                  "in the currency parameter.");
        return discardValue(parameters, APMErrorCodeCurrencyCodeIsMissingOrInvalid, "currency");
    }
    return true;
}

bool APMHasScreenParameters(const APMObjectParameters& parameters) {
    for (const char* name : kScreenParameters) {
        if (APMFindObject(parameters, name)) return true;
    }
    return false;
}

bool APMHasScreenParameters(const APMParameters& parameters) {
    for (const char* name : kScreenParameters) {
        if (parameters.contains(name)) return true;
    }
    return false;
}

APMObjectParameters APMExtractScreenParameters(const APMObjectParameters& parameters) {
    APMObjectParameters screen;
    for (const char* name : kScreenParameters) {
        if (const APMObject* object = APMFindObject(parameters, name)) screen.emplace_back(name, *object);
    }
    return screen;
}

APMParameters APMParametersByRemovingVadParameters(const APMParameters& parameters) {
    APMParameters kept;
    for (const auto& [name, value] : parameters) {
        if (!name.starts_with("vad_")) kept.set(name, value);
    }
    return kept;
}

std::int64_t APMEffectiveEventCount(const APMEvent& event) {
    std::int64_t total = 0;
    for (const auto& [name, value] : event.parameters()) {
        if (const auto* items = value.arrayValue()) total += static_cast<std::int64_t>(items->size());
    }
    return total;
}
