#pragma once
// Error reports: a failed check becomes either the internal event "_err"
// (origin "auto", logged through the facade, APMErrorEventLogging.h) or the
// parameters "_err" (the code), "_ev" (the offending name, trimmed) and "_el"
// (a length or count) written into the event that failed. The first error
// recorded into a dictionary stays: later ones never overwrite it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/storage/APMValue.h"

enum APMErrorCode : std::int64_t {
    APMErrorCodeNoError = 0,
    APMErrorCodeInvalidVAZAppID = 1,
    APMErrorCodeInvalidEventName = 2,
    APMErrorCodeInvalidParameterName = 3,
    APMErrorCodeInvalidParameterValue = 4,
    APMErrorCodeParameterLimitReached = 5,
    APMErrorCodeInvalidUserPropertyName = 6,
    APMErrorCodeUserPropertyValueTooLong = 7,
    APMErrorCodeEventLimitReached = 8,
    APMErrorCodeUserPropertyLimitReached = 9,
    APMErrorCodeConversionEventLimitReached = 10,
    APMErrorCodeEventIsBlocked = 11,
    APMErrorCodeUserPropertyIsBlocked = 12,
    APMErrorCodeEventNameIsReserved = 13,
    APMErrorCodeParameterNameIsReserved = 14,
    APMErrorCodeUserPropertyNameIsReserved = 15,
    APMErrorCodePublicEventLimitReached = 16,
    APMErrorCodeTooManyExtraParamEvents = 17,
    APMErrorCodeValueIsNotNumeric = 18,
    APMErrorCodeCurrencyCodeIsMissingOrInvalid = 19,
    APMErrorCodeInvalidArrayParamName = 20,
    APMErrorCodeInvalidArrayParamEventName = 21,
    APMErrorCodeInvalidArrayParamNesting = 22,
    APMErrorCodeCustomParamsInArrayElement = 23,
    APMErrorCodeItemScopedCustomParameterLimitReached = 28,
};

inline constexpr const char* kAPMErrorEventName = "_err";
inline constexpr const char* kAPMErrorEventOrigin = "auto";
inline constexpr const char* kAPMErrorCodeParameter = "_err";
inline constexpr const char* kAPMErrorNameParameter = "_ev";
inline constexpr const char* kAPMErrorLengthParameter = "_el";

// Code to name, for showing "_err" values in debug output.
const std::map<std::int64_t, std::string>& APMErrorCodeNames();
// "InvalidEventName (2)"; a code without a name as the bare number.
std::string APMErrorCodeDescription(std::int64_t code);

// The first `limit` code points followed by "..." when the text is longer;
// otherwise the text unchanged.
std::string APMTrimmedString(std::string_view text, std::size_t limit);

// The internal event "_err" with only "_err" = code; nothing for code 0.
void APMLogErrorCodeEvent(std::int64_t code);
// The same with the error details of `name` and `value` (below).
void APMLogErrorEvent(std::int64_t code, APMOptionalText name, std::size_t limit, const APMValue* value);

// "_err" = code unless "_err" is present.
void APMRecordErrorCode(APMParameters& parameters, std::int64_t code);
// "_err" = code with the error details, unless any of "_err", "_ev", "_el"
// is present.
void APMRecordError(APMParameters& parameters, std::int64_t code, APMOptionalText name, std::size_t limit,
                    const APMValue* value);
// An array failure as its error (not ecommerce 21 with the event name; not
// "items" 20, more than 200 elements 17, nested 22 with the parameter name);
// other failures record nothing.
void APMRecordArrayError(APMParameters& parameters, APMValidationFailure failure, std::string_view paramName,
                         APMOptionalText eventName);

// The error details, written only when neither "_ev" nor "_el" is present:
// "_ev" = the name trimmed to `limit` (a missing name reads "(nil)", a text
// that is not UTF-8 by its class name); "_el" = the value's length (code
// points of a string, elements of an array, else 0), only when a value is
// given and the code is 4 or 7 or the value is a string longer than `limit`.
void APMWriteErrorDetails(APMParameters& parameters, std::int64_t code, APMOptionalText name, std::size_t limit,
                          const APMValue* value);
