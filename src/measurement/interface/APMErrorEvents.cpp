#include "measurement/interface/APMErrorEvents.h"

#include <unicode/utf8.h>

#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/interface/APMObjectParameters.h"
#include "measurement/storage/APMStringAdditions.h"
#include "platform/core/Unicode.h"

namespace {

std::int64_t valueLength(const APMValue& value) {
    if (const auto* string = value.stringValue()) return static_cast<std::int64_t>(APMUTF32Length(*string));
    if (const auto* items = value.arrayValue()) return static_cast<std::int64_t>(items->size());
    return 0;
}

std::string nameText(APMOptionalText name) {
    if (!name) return "(nil)";
    if (!platform::isValidUtf8(*name)) return kAPMNonStringClassName;
    return std::string(*name);
}

}  // namespace

const std::map<std::int64_t, std::string>& APMErrorCodeNames() {
    static const std::map<std::int64_t, std::string> names = {
        {0, "NoError"},
        {1, "InvalidVAZAppID"},
        {2, "InvalidEventName"},
        {3, "InvalidParameterName"},
        {4, "InvalidParameterValue"},
        {5, "ParameterLimitReached"},
        {6, "InvalidUserPropertyName"},
        {7, "UserPropertyValueTooLong"},
        {8, "EventLimitReached"},
        {9, "UserPropertyLimitReached"},
        {10, "ConversionEventLimitReached"},
        {11, "EventIsBlocked"},
        {12, "UserPropertyIsBlocked"},
        {13, "EventNameIsReserved"},
        {14, "ParameterNameIsReserved"},
        {15, "UserPropertyNameIsReserved"},
        {16, "PublicEventLimitReached"},
        {17, "TooManyExtraParamEvents"},
        {18, "ValueIsNotNumeric"},
        {19, "CurrencyCodeIsMissingOrInvalid"},
        {20, "InvalidArrayParamName"},
        {21, "InvalidArrayParamEventName"},
        {22, "InvalidArrayParamNesting"},
        {23, "CustomParamsInArrayElement"},
        {28, "ItemScopedCustomParameterLimitReached"},
    };
    return names;
}

std::string APMErrorCodeDescription(std::int64_t code) {
    auto found = APMErrorCodeNames().find(code);
    if (found == APMErrorCodeNames().end()) return std::to_string(code);
    return found->second + " (" + std::to_string(code) + ")";
}

std::string APMTrimmedString(std::string_view text, std::size_t limit) {
    if (APMUTF32Length(text) <= limit) return std::string(text);
    // Byte offset just past the first `limit` code points.
    std::int32_t offset = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::size_t counted = 0; counted < limit && offset < length; ++counted) {
        U8_FWD_1(reinterpret_cast<const std::uint8_t*>(text.data()), offset, length);
    }
    return std::string(text.substr(0, static_cast<std::size_t>(offset))) + "...";
}

void APMWriteErrorDetails(APMParameters& parameters, std::int64_t code, APMOptionalText name, std::size_t limit,
                          const APMValue* value) {
    if (parameters.contains(kAPMErrorNameParameter) || parameters.contains(kAPMErrorLengthParameter)) return;
    parameters.set(kAPMErrorNameParameter, APMValue(APMTrimmedString(nameText(name), limit)));
    if (!value) return;
    const bool longString = value->isString() && APMUTF32Length(*value->stringValue()) > limit;
    if (code == APMErrorCodeInvalidParameterValue || code == APMErrorCodeUserPropertyValueTooLong || longString) {
        parameters.set(kAPMErrorLengthParameter, APMValue(valueLength(*value)));
    }
}

void APMLogErrorCodeEvent(std::int64_t code) {
    if (code == APMErrorCodeNoError) return;
    APMLogInternalEvent(kAPMErrorEventOrigin, kAPMErrorEventName, APMParameters{{kAPMErrorCodeParameter, APMValue(code)}});
}

void APMLogErrorEvent(std::int64_t code, APMOptionalText name, std::size_t limit, const APMValue* value) {
    if (code == APMErrorCodeNoError) return;
    APMParameters parameters{{kAPMErrorCodeParameter, APMValue(code)}};
    APMWriteErrorDetails(parameters, code, name, limit, value);
    APMLogInternalEvent(kAPMErrorEventOrigin, kAPMErrorEventName, parameters);
}

void APMRecordErrorCode(APMParameters& parameters, std::int64_t code) {
    if (!parameters.contains(kAPMErrorCodeParameter)) parameters.set(kAPMErrorCodeParameter, APMValue(code));
}

void APMRecordError(APMParameters& parameters, std::int64_t code, APMOptionalText name, std::size_t limit,
                    const APMValue* value) {
    if (parameters.contains(kAPMErrorCodeParameter) || parameters.contains(kAPMErrorNameParameter) ||
        parameters.contains(kAPMErrorLengthParameter)) {
        return;
    }
    parameters.set(kAPMErrorCodeParameter, APMValue(code));
    APMWriteErrorDetails(parameters, code, name, limit, value);
}

void APMRecordArrayError(APMParameters& parameters, APMValidationFailure failure, std::string_view paramName,
                         APMOptionalText eventName) {
    constexpr std::size_t kLimit = APMDataTypeValidator::kMaxEventParameterNameLength;
    switch (failure) {
        case APMValidationFailure::ArrayOnNonEcommerceEvent:
            APMRecordError(parameters, APMErrorCodeInvalidArrayParamEventName, eventName, kLimit, nullptr);
            break;
        case APMValidationFailure::ArrayNotNamedItems:
            APMRecordError(parameters, APMErrorCodeInvalidArrayParamName, paramName, kLimit, nullptr);
            break;
        case APMValidationFailure::TooManyArrayElements:
            APMRecordError(parameters, APMErrorCodeTooManyExtraParamEvents, paramName, kLimit, nullptr);
            break;
        case APMValidationFailure::NestedArray:
            APMRecordError(parameters, APMErrorCodeInvalidArrayParamNesting, paramName, kLimit, nullptr);
            break;
        default: break;
    }
}
