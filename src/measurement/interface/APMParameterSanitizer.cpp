#include "measurement/interface/APMParameterSanitizer.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "measurement/interface/APMErrorEvents.h"
#include "measurement/interface/APMEventNames.h"
#include "measurement/interface/APMValidationLimits.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMStringAdditions.h"
#include "platform/core/Unicode.h"

namespace {

using Failure = APMValidationFailure;
using Validator = APMDataTypeValidator;
constexpr std::size_t kNameLimit = APMDataTypeValidator::kMaxEventParameterNameLength;

void count(APMDiagnosticsCounts* counts, std::int64_t by, const char* name) {
    if (counts) counts->incrementCountBy(by, name);
}

// Names sort as the platform compares strings: by UTF-16 units.
bool utf16Less(const std::string& left, const std::string& right) {
    return platform::utf8ToUtf16(left).value_or(u"") < platform::utf8ToUtf16(right).value_or(u"");
}

void trimToLimit(APMParameters& parameters, std::size_t limit, bool isItem) {
    std::size_t counted = 0;
    std::vector<std::string> removable;
    for (const auto& [name, value] : parameters) {
        if (!APMIsPublicName(name) || (isItem && APMIsEcommerceParameterName(name))) continue;
        ++counted;
        if (!APMNeverTrimmedParameterNames().contains(name)) removable.push_back(name);
    }
    if (counted <= limit) return;
    std::sort(removable.begin(), removable.end(), utf16Less);
    for (std::size_t excess = counted - limit; excess > 0 && !removable.empty(); --excess) {
        parameters.erase(removable.back());
        removable.pop_back();
    }
}

bool isCustomEvent(APMOptionalText eventName) {
    if (!eventName) return true;
    return !APMPublicToInternalEventNameMap().contains(std::string(*eventName)) && !eventName->starts_with("_");
}

// An "_ev" that an earlier pass already trimmed: exactly limit + 3 code points ending in "...".
bool isTrimmedText(const std::string& text, std::size_t limit) {
    return APMUTF32Length(text) == limit + 3 && text.ends_with("...");
}

void enforceParameterLimit(APMParameters& parameters, bool isItem, const APMValidationLimits& limits,
                           APMDiagnosticsCounts* counts) {
    const auto limit = static_cast<std::size_t>(isItem ? limits.maxItemScopedCustomParameters
                                                       : limits.maxPublicEventParams);
    const std::size_t found = APMCountPublicParameters(parameters, isItem);
    if (found <= limit) return;
    count(counts, static_cast<std::int64_t>(found - limit), "too_many_params");
    trimToLimit(parameters, limit, isItem);
    if (isItem) {
        APMRecordErrorCode(parameters, APMErrorCodeItemScopedCustomParameterLimitReached);
        APMMonitor::shared()->log(0, 18016, "Item cannot contain custom parameters");
    } else {
        APMRecordErrorCode(parameters, APMErrorCodeParameterLimitReached);
        APMMonitor::shared()->log(1, 18017, "Event cannot contain more than " + std::to_string(limit) + " parameters");
    }
}

}  // namespace

bool APMIsValidEventParameterName(std::string_view name, bool isPublic, APMParameters& errorParameters) {
    Failure failure = Failure::None;
    const bool valid = isPublic ? Validator::isValidPublicEventParameterName(name, &failure) &&
                                      Validator::isValidInternalEventParameterName(name, &failure)
                                : Validator::isValidInternalEventParameterName(name, &failure);
    if (valid) return true;
    const auto code = failure == Failure::Reserved ? APMErrorCodeParameterNameIsReserved
                                                   : APMErrorCodeInvalidParameterName;
    const bool isString = platform::isValidUtf8(name);
    const APMValue nameValue(isString ? std::string(name) : std::string());
    APMRecordError(errorParameters, code, name, kNameLimit, isString ? &nameValue : nullptr);
    return false;
}

std::size_t APMCountPublicParameters(const APMParameters& parameters, bool isItem) {
    return static_cast<std::size_t>(std::count_if(parameters.begin(), parameters.end(), [&](const auto& entry) {
        return APMIsPublicName(entry.first) && !(isItem && APMIsEcommerceParameterName(entry.first));
    }));
}

void APMTrimPublicParametersToLimit(APMParameters& parameters, std::size_t limit) {
    trimToLimit(parameters, limit, false);
}

std::optional<APMValue> APMSanitizedArrayParameter(const platform::PropertyArray& elements, std::string_view paramName,
                                                   APMOptionalText eventName, APMParameters& errorParameters,
                                                   bool isItem, bool isPublic, APMValidationFailure* failure,
                                                   APMDiagnosticsCounts* counts) {
    Failure arrayFailure = Failure::None;
    if (!Validator::isValidArrayParamForEvent(eventName, paramName, elements.size(), isItem, &arrayFailure) &&
        arrayFailure != Failure::TooManyArrayElements) {
        if (failure) *failure = arrayFailure;
        return std::nullopt;
    }
    if (failure) *failure = arrayFailure;
    const std::size_t kept = std::min(elements.size(), Validator::kMaxArrayParameterElements);
    std::vector<APMParameters> items;
    for (std::size_t index = 0; index < kept; ++index) {
        const platform::PropertyValue& element = elements[index];
        // The element's own failure is not the array's: a cut array stays reported as cut.
        if (!Validator::isValidArrayParamItem(element, nullptr)) {
            const std::string indexedName = std::string(paramName) + "[" + std::to_string(index) + "]";
            APMRecordError(errorParameters, APMErrorCodeInvalidParameterValue, indexedName, kNameLimit, nullptr);
            continue;
        }
        auto item = APMSanitizedEventParameters(APMObjectParametersFrom(*element.asDictionary()), eventName,
                                                isPublic, true, counts);
        if (item) items.push_back(std::move(*item));
    }
    return APMValue(std::move(items));
}

std::optional<APMParameters> APMSanitizedEventParameters(const APMObjectParameters& parameters,
                                                         APMOptionalText eventName, bool isPublic, bool isItem,
                                                         APMDiagnosticsCounts* counts) {
    if (parameters.empty()) return std::nullopt;
    const APMObjectParameters input = APMUniqueObjectParameters(parameters);
    const bool customEvent = isCustomEvent(eventName);
    // One set of limits for the whole event, read once.
    const APMValidationLimits limits = APMCurrentValidationLimits();
    const auto publicValueLimit = static_cast<std::size_t>(limits.maxPublicEventParameterValueLength);
    const auto internalValueLimit = static_cast<std::size_t>(limits.maxInternalEventParameterValueLength);
    const auto isValidValue = [&](const APMValue& value, std::size_t limit, Failure* failure) {
        return Validator::isValidValue(&value, 0, limit, APMValidationSubject::EventParameterValue, failure);
    };
    std::set<std::string> invalid;
    APMParameters extra;  // error parameters and the values converted from objects

    for (const auto& [name, object] : input) {
        if (!APMIsValidEventParameterName(name, isPublic, extra)) {
            invalid.insert(name);
            count(counts, 1, "invalid_param_name");
            continue;
        }
        std::optional<APMValue> value = APMValue::valueFromObject(&object, true);
        if (!value) {
            APMMonitor::shared()->log(3, 18015, "Event parameter value must be of type NSString, NSNumber or NSArray. Type",
                                      APMObjectClassName(object));
            invalid.insert(name);
            count(counts, 1, "invalid_param_value");
            continue;
        }
        const bool givenAsValue = std::holds_alternative<APMValue>(object);
        Failure failure = Failure::None;
        bool valid = !isPublic || isValidValue(*value, publicValueLimit, &failure);
        if (valid && name == kAPMErrorNameParameter) {
            // An error name handed on from elsewhere: kept, but cut to the internal limit.
            const std::string* text = value->stringValue();
            if (text && APMUTF32Length(*text) > internalValueLimit && !isTrimmedText(*text, internalValueLimit)) {
                APMWriteErrorDetails(extra, APMErrorCodeNoError, *text, internalValueLimit, &*value);
            }
        } else if (valid) {
            if (!customEvent) valid = isValidValue(*value, internalValueLimit, &failure);
            if (valid && value->isArray() && !givenAsValue) {
                const auto* elements = std::get<platform::PropertyValue>(object).asArray();
                auto array = APMSanitizedArrayParameter(*elements, name, eventName, extra, isItem, isPublic,
                                                        &failure, counts);
                if (array) {
                    value = std::move(array);
                } else {
                    valid = false;
                }
            }
        }
        if (!valid && failure == Failure::TooLong && !extra.contains(kAPMErrorCodeParameter)) {
            APMRecordError(extra, APMErrorCodeInvalidParameterValue, name, kNameLimit, &*value);
        }
        if (value->isArray() && failure != Failure::None) APMRecordArrayError(extra, failure, name, eventName);
        if (!valid) {
            invalid.insert(name);
            count(counts, 1, "invalid_param_value");
        } else if (!givenAsValue && !extra.contains(name)) {
            extra.set(name, std::move(*value));
        }
    }

    if (invalid.size() == input.size()) return extra;
    APMParameters result;
    for (const auto& [name, object] : input) {
        if (invalid.contains(name)) continue;
        if (const APMValue* converted = extra.find(name)) {
            result.set(name, *converted);
        } else if (const auto* value = std::get_if<APMValue>(&object)) {
            result.set(name, *value);
        }
    }
    for (const auto& [name, value] : extra) result.set(name, value);
    enforceParameterLimit(result, isItem, limits, counts);
    return result;
}
