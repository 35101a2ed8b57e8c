#pragma once
// APMDataTypeValidator: the rules every name and value meets before it enters
// measurement. Each check answers true when the subject is valid, writes the
// reason to `failure` when one is given, and logs most failures on the
// measurement monitor (codes 13000-13014). It never changes its input; the
// caller decides whether to drop, trim or report. Lengths count code points,
// except the currency code's (UTF-16 units). A text that is not UTF-8 counts
// as "not a string"; a missing subject (nullopt / null) as nil. Remote limits
// are read at every call (APMValidationLimits.h). Safe from any thread.

#include <cstddef>
#include <optional>
#include <string_view>

#include "measurement/storage/APMValue.h"
#include "platform/core/PropertyList.h"

// What a check checks; its name starts the messages it logs.
enum class APMValidationSubject {
    EventName = 0,
    EventOrigin = 1,
    EventParameterName = 2,
    EventParameterValue = 3,
    UserPropertyName = 4,
    UserPropertyValue = 5,
    ScreenParameterValue = 6,
    ConditionalUserPropertyOrigin = 7,
    ConditionalUserPropertyName = 8,
    ConditionalUserPropertyValue = 9,
};

enum class APMValidationFailure {
    None = 0,
    Missing = 1,  // nil, or empty where at least 1 is required
    TooLong = 2,
    InvalidCharacter = 3,  // outside letters, digits and "_", or a public name not starting with a letter
    Reserved = 4,          // reserved name or prefix
    WrongType = 5,
    NotForwarded = 6,  // origin without the "+vtm" suffix
    TooShort = 7,
    NotNumeric = 8,
    InvalidCurrency = 9,
    ArrayOnNonEcommerceEvent = 10,
    ArrayNotNamedItems = 11,
    TooManyArrayElements = 12,
    NestedArray = 13,
    ArrayElementNotDictionary = 14,
};

using APMOptionalText = std::optional<std::string_view>;

class APMDataTypeValidator {
public:
    APMDataTypeValidator() = delete;

    static constexpr std::size_t kMaxEventNameLength = 40;
    static constexpr std::size_t kMaxEventOriginLength = 32;
    static constexpr std::size_t kMaxEventParameterNameLength = 40;
    static constexpr std::size_t kMaxUserPropertyNameLength = 24;
    static constexpr std::size_t kMaxUserPropertyValueLength = 36;
    static constexpr std::size_t kMaxArrayParameterElements = 200;
    static constexpr const char* kForwardedOriginSuffix = "+vtm";
    static constexpr const char* kItemsParameterName = "items";

    // Begins with "veredoda_", "vadova_" or "va_" (case-sensitive; no log).
    static bool hasReservedPrefixes(std::string_view name);

    // The building blocks.
    static bool isValidString(APMOptionalText string, std::size_t minLength, std::size_t maxLength,
                              APMValidationSubject type, APMValidationFailure* failure);
    static bool isValidInternalName(APMOptionalText name, std::size_t maxLength, APMValidationSubject type,
                                    APMValidationFailure* failure);
    static bool isValidPublicName(APMOptionalText name, std::size_t maxLength, APMValidationSubject type,
                                  APMValidationFailure* failure);
    // Any non-string value is valid; a string value meets the string rule.
    static bool isValidValue(const APMValue* value, std::size_t minLength, std::size_t maxLength,
                             APMValidationSubject type, APMValidationFailure* failure);

    static bool isValidPublicEventName(APMOptionalText name, APMValidationFailure* failure);
    static bool isValidInternalEventName(APMOptionalText name, APMValidationFailure* failure);
    static bool isValidInternalEventOrigin(APMOptionalText origin, APMValidationFailure* failure);
    // Neither of its own failures (Missing, NotForwarded) is logged.
    static bool isValidForwardedEventOrigin(APMOptionalText origin, APMValidationFailure* failure);

    static bool isValidPublicEventParameterName(APMOptionalText name, APMValidationFailure* failure);
    static bool isValidInternalEventParameterName(APMOptionalText name, APMValidationFailure* failure);
    static bool isValidPublicEventParameterValue(const APMValue* value, APMValidationFailure* failure);
    static bool isValidInternalEventParameterValue(const APMValue* value, APMValidationFailure* failure);

    static bool isValidPublicUserAttributeName(APMOptionalText name, APMValidationFailure* failure);
    static bool isValidPublicUserAttributeValue(const APMValue* value, APMValidationFailure* failure);
    static bool isValidInternalUserAttributeName(APMOptionalText name, APMValidationFailure* failure);
    static bool isValidInternalUserAttributeValue(const APMValue* value, std::string_view name,
                                                  APMValidationFailure* failure);

    static bool isValidScreenParameterValue(APMOptionalText value, APMValidationFailure* failure);

    static bool isValidConditionalUserPropertyOrigin(APMOptionalText origin, APMValidationFailure* failure);
    static bool isValidConditionalUserPropertyName(APMOptionalText name, APMValidationFailure* failure);
    static bool isValidConditionalUserPropertyValue(const APMValue* value, APMValidationFailure* failure);

    static bool isValidNumericValue(const APMValue* value, APMValidationFailure* failure);
    static bool isValidCurrencyCode(const APMValue* value, APMValidationFailure* failure);

    // The array rule, first match wins: nested, event not ecommerce, name not
    // "items", more than 200 elements (the caller keeps the first 200).
    static bool isValidArrayParamForEvent(APMOptionalText eventName, std::string_view paramName,
                                          std::size_t count, bool isNestedArrayParam,
                                          APMValidationFailure* failure);
    // Writes `failure` only on a failure.
    static bool isValidArrayParamItem(const platform::PropertyValue& element, APMValidationFailure* failure);
};
