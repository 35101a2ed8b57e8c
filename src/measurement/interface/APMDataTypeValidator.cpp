#include "measurement/interface/APMDataTypeValidator.h"

#include <algorithm>
#include <array>
#include <string>

#include "measurement/interface/APMEventNames.h"
#include "measurement/interface/APMObjectParameters.h"
#include "measurement/interface/APMValidationLimits.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMStringAdditions.h"
#include "platform/core/Unicode.h"

namespace {

using Subject = APMValidationSubject;
using Failure = APMValidationFailure;

constexpr std::array kReservedPrefixes = {"veredoda_", "vadova_", "va_"};

std::string subjectName(Subject type) {
    switch (type) {
        case Subject::EventName: return "Event name";
        case Subject::EventOrigin: return "Event origin";
        case Subject::EventParameterName: return "Event parameter name";
        case Subject::EventParameterValue: return "Event parameter value";
        case Subject::UserPropertyName: return "User property name";
        case Subject::UserPropertyValue: return "User property value";
        case Subject::ScreenParameterValue: return "Screen parameter value";
        case Subject::ConditionalUserPropertyOrigin: return "Conditional user property origin";
        case Subject::ConditionalUserPropertyName: return "Conditional user property name";
        case Subject::ConditionalUserPropertyValue: return "Conditional user property value";
    }
    return "Object";
}

// Values of parameters and user properties are warnings; names and the rest errors.
int stringRuleLevel(Subject type) {
    return type == Subject::EventParameterValue || type == Subject::UserPropertyValue ? 3 : 0;
}

void report(APMValidationFailure* out, Failure failure) {
    if (out) *out = failure;
}

bool fail(APMValidationFailure* out, Failure failure) {
    report(out, failure);
    return false;
}

// A text that is not UTF-8, for log lines: its bytes in hexadecimal.
std::string bytesDescription(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "<";
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text + ">";
}

std::string elementDescription(const platform::PropertyValue& element) {
    if (const auto* string = element.asString()) return *string;
    if (element.isBoolean()) return *element.asBoolean() ? "1" : "0";
    if (element.kind() == platform::PropertyValue::Kind::Integer) return std::to_string(*element.asInteger());
    if (element.kind() == platform::PropertyValue::Kind::Real) return APMLogContext(*element.asReal()).text();
    return APMObjectClassName(element);
}

bool isASCIILetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isNameCharacter(char32_t c) { return c == U'_' || platform::isLetter(c) || platform::isDecimalDigit(c); }

// Names are nearly always ASCII, whose bytes are checked as they stand; a
// name with any other byte is decoded and checked character by character.
bool hasOnlyNameCharacters(std::string_view name) {
    for (unsigned char c : name) {
        if (c >= 0x80) return std::ranges::all_of(platform::codePoints(name), isNameCharacter);
        if (c != '_' && !isASCIILetter(c) && !(c >= '0' && c <= '9')) return false;
    }
    return true;
}

bool startsWithLetter(std::string_view name) {
    const auto first = static_cast<unsigned char>(name.front());
    return first < 0x80 ? isASCIILetter(first) : platform::isLetter(platform::codePoints(name).front());
}

APMMonitor& monitor() { return *APMMonitor::shared(); }

const APMLogContext kNilContext(static_cast<const char*>(nullptr));

// The value-object check that every value rule begins with.
bool isPresentValue(const APMValue* value, Subject type, APMValidationFailure* failure) {
    report(failure, Failure::None);
    if (value) return true;
    monitor().log(3, 13004, subjectName(type) + " cannot be nil");
    return fail(failure, Failure::Missing);
}

}  // namespace

bool APMDataTypeValidator::hasReservedPrefixes(std::string_view name) {
    for (const char* prefix : kReservedPrefixes) {
        if (name.starts_with(prefix)) return true;
    }
    return false;
}

bool APMDataTypeValidator::isValidString(APMOptionalText string, std::size_t minLength, std::size_t maxLength,
                                         APMValidationSubject type, APMValidationFailure* failure) {
    report(failure, Failure::None);
    const int level = stringRuleLevel(type);
    if (!string) {
        monitor().log(level, 13001, subjectName(type) + " is required and can't be nil");
        return fail(failure, Failure::Missing);
    }
    if (!platform::isValidUtf8(*string)) {
        monitor().log(level, 13000, subjectName(type) + " must be of type NSString", bytesDescription(*string));
        return fail(failure, Failure::WrongType);
    }
    if (string->empty() && minLength >= 1) {
        // An empty value is common enough that the caller alone decides about it.
        if (type != Subject::EventParameterValue && type != Subject::UserPropertyValue) {
            monitor().log(level, 13001, subjectName(type) + " is required and can't be empty");
        }
        return fail(failure, Failure::Missing);
    }
    const std::size_t length = APMUTF32Length(*string);
    if (length > maxLength) {
        monitor().log(level, 13000,
                      subjectName(type) + " is too long. The maximum supported length is " + std::to_string(maxLength),
                      *string);
        return fail(failure, Failure::TooLong);
    }
    if (length < minLength) {
        monitor().log(level, 13000,
                      subjectName(type) + " is too short. The minimum supported length is " + std::to_string(minLength),
                      *string);
        return fail(failure, Failure::TooShort);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalName(APMOptionalText name, std::size_t maxLength,
                                               APMValidationSubject type, APMValidationFailure* failure) {
    if (!isValidString(name, 1, maxLength, type, failure)) return false;
    if (hasOnlyNameCharacters(*name)) return true;
    monitor().log(0, 13002, subjectName(type) + " must contain only letters, numbers, or underscores", *name);
    return fail(failure, Failure::InvalidCharacter);
}

bool APMDataTypeValidator::isValidPublicName(APMOptionalText name, std::size_t maxLength, APMValidationSubject type,
                                             APMValidationFailure* failure) {
    if (!isValidInternalName(name, maxLength, type, failure)) return false;
    if (!startsWithLetter(*name)) {
        monitor().log(0, 13003, subjectName(type) + " must start with a letter", *name);
        return fail(failure, Failure::InvalidCharacter);
    }
    return true;
}

bool APMDataTypeValidator::isValidValue(const APMValue* value, std::size_t minLength, std::size_t maxLength,
                                        APMValidationSubject type, APMValidationFailure* failure) {
    if (!isPresentValue(value, type, failure)) return false;
    const std::string* string = value->stringValue();
    return !string || isValidString(*string, minLength, maxLength, type, failure);
}

bool APMDataTypeValidator::isValidPublicEventName(APMOptionalText name, APMValidationFailure* failure) {
    if (!isValidPublicName(name, kMaxEventNameLength, Subject::EventName, failure)) return false;
    if (*name == "screen_view") return true;
    const std::string text(*name);
    if (APMPublicToInternalEventNameMap().contains(text) && !APMAllowedReservedEventNameMap().contains(text)) {
        monitor().log(0, 13006, "Event name is reserved. Ignoring event", text);
        return fail(failure, Failure::Reserved);
    }
    if (hasReservedPrefixes(text)) {
        monitor().log(0, 13007, "Event name uses reserved prefix. Ignoring event", text);
        return fail(failure, Failure::Reserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventName(APMOptionalText name, APMValidationFailure* failure) {
    return isValidInternalName(name, kMaxEventNameLength, Subject::EventName, failure);
}

bool APMDataTypeValidator::isValidInternalEventOrigin(APMOptionalText origin, APMValidationFailure* failure) {
    return isValidInternalName(origin, kMaxEventOriginLength, Subject::EventOrigin, failure);
}

bool APMDataTypeValidator::isValidForwardedEventOrigin(APMOptionalText origin, APMValidationFailure* failure) {
    if (!origin || origin->empty()) return fail(failure, Failure::Missing);
    if (!origin->ends_with(kForwardedOriginSuffix)) return fail(failure, Failure::NotForwarded);
    const std::string_view source = origin->substr(0, origin->size() - std::string_view(kForwardedOriginSuffix).size());
    return isValidInternalName(source, kMaxEventOriginLength, Subject::EventOrigin, failure);
}

bool APMDataTypeValidator::isValidPublicEventParameterName(APMOptionalText name, APMValidationFailure* failure) {
    if (!isValidPublicName(name, kMaxEventParameterNameLength, Subject::EventParameterName, failure)) return false;
    if (hasReservedPrefixes(*name)) {
        monitor().log(0, 13008, "Parameter name uses reserved prefix. Ignoring parameter", *name);
        return fail(failure, Failure::Reserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventParameterName(APMOptionalText name, APMValidationFailure* failure) {
    return isValidInternalName(name, kMaxEventParameterNameLength, Subject::EventParameterName, failure);
}

bool APMDataTypeValidator::isValidPublicEventParameterValue(const APMValue* value, APMValidationFailure* failure) {
    const auto limit = static_cast<std::size_t>(APMCurrentValidationLimits().maxPublicEventParameterValueLength);
    return isValidValue(value, 0, limit, Subject::EventParameterValue, failure);
}

bool APMDataTypeValidator::isValidInternalEventParameterValue(const APMValue* value, APMValidationFailure* failure) {
    const auto limit = static_cast<std::size_t>(APMCurrentValidationLimits().maxInternalEventParameterValueLength);
    return isValidValue(value, 0, limit, Subject::EventParameterValue, failure);
}

bool APMDataTypeValidator::isValidPublicUserAttributeName(APMOptionalText name, APMValidationFailure* failure) {
    if (!isValidPublicName(name, kMaxUserPropertyNameLength, Subject::UserPropertyName, failure)) return false;
    if (APMUserPropertyInternalNames().contains(std::string(*name))) {
        monitor().log(0, 13009, "User property name is reserved. Ignoring user property", *name);
        return fail(failure, Failure::Reserved);
    }
    if (hasReservedPrefixes(*name)) {
        monitor().log(0, 13010, "User property name uses reserved prefix. Ignoring user property", *name);
        return fail(failure, Failure::Reserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicUserAttributeValue(const APMValue* value, APMValidationFailure* failure) {
    return isValidValue(value, 1, kMaxUserPropertyValueLength, Subject::UserPropertyValue, failure);
}

bool APMDataTypeValidator::isValidInternalUserAttributeName(APMOptionalText name, APMValidationFailure* failure) {
    return isValidInternalName(name, kMaxUserPropertyNameLength, Subject::UserPropertyName, failure);
}

bool APMDataTypeValidator::isValidInternalUserAttributeValue(const APMValue* value, std::string_view name,
                                                             APMValidationFailure* failure) {
    std::size_t limit = kMaxUserPropertyValueLength;
    if (name == "_psmvalue" || name == "_psmvalue_vads") {
        limit = 512;
    } else if (name == "_vbraid" || name == "_id") {
        limit = 256;
    }
    return isValidValue(value, 1, limit, Subject::UserPropertyValue, failure);
}

bool APMDataTypeValidator::isValidScreenParameterValue(APMOptionalText value, APMValidationFailure* failure) {
    const auto limit = static_cast<std::size_t>(APMCurrentValidationLimits().maxPublicEventParameterValueLength);
    return isValidString(value, 1, limit, Subject::ScreenParameterValue, failure);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyOrigin(APMOptionalText origin,
                                                                APMValidationFailure* failure) {
    return isValidInternalName(origin, kMaxEventOriginLength, Subject::ConditionalUserPropertyOrigin, failure);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyName(APMOptionalText name, APMValidationFailure* failure) {
    return isValidInternalName(name, kMaxUserPropertyNameLength, Subject::ConditionalUserPropertyName, failure);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyValue(const APMValue* value,
                                                               APMValidationFailure* failure) {
    return isValidValue(value, 1, kMaxUserPropertyValueLength, Subject::ConditionalUserPropertyValue, failure);
}

bool APMDataTypeValidator::isValidNumericValue(const APMValue* value, APMValidationFailure* failure) {
    if (!isPresentValue(value, Subject::EventParameterValue, failure)) return false;
    if (value->isInt64() || value->isDouble()) return true;
    monitor().log(3, 13011, "Event parameter value must be specified with a numeric type. value",
                  value->stringValue() ? APMLogContext(*value->stringValue()) : kNilContext);
    return fail(failure, Failure::NotNumeric);
}

bool APMDataTypeValidator::isValidCurrencyCode(const APMValue* value, APMValidationFailure* failure) {
    if (!isPresentValue(value, Subject::EventParameterValue, failure)) return false;
    if (const std::string* code = value->stringValue()) {
        // Counted and tested per UTF-16 unit: half of a surrogate pair is no letter.
        const auto units = platform::utf8ToUtf16(*code);
        bool valid = units && units->size() == 3;
        for (std::size_t i = 0; valid && i < units->size(); ++i) valid = platform::isLetter((*units)[i]);
        if (valid) return true;
    }
    monitor().log(3, 13012, "Event parameter value must contain a 3-letter ISO_4217 currency code. value", *value);
    return fail(failure, Failure::InvalidCurrency);
}

bool APMDataTypeValidator::isValidArrayParamForEvent(APMOptionalText eventName, std::string_view paramName,
                                                     std::size_t count, bool isNestedArrayParam,
                                                     APMValidationFailure* failure) {
    report(failure, Failure::None);
    if (isNestedArrayParam) {
        monitor().log(0, 13013, "Nested array parameters are not allowed. Name", paramName);
        return fail(failure, Failure::NestedArray);
    }
    if (!eventName || !APMIsEcommerceEventName(*eventName)) {
        monitor().log(0, 13013, "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name",
                      eventName ? APMLogContext(*eventName) : kNilContext);
        return fail(failure, Failure::ArrayOnNonEcommerceEvent);
    }
    if (paramName != kItemsParameterName) {
        monitor().log(0, 13013,
                      std::string("Event parameter name is an invalid ecommerce items. The name of array parameters "
                                  "for ecommerce should be \"") +
                          kItemsParameterName + "\". Invalid parameter name",
                      paramName);
        return fail(failure, Failure::ArrayNotNamedItems);
    }
    if (count > kMaxArrayParameterElements) {
        monitor().log(0, 13013,
                      "Array parameter has too many items. The maximum number of supported items is " +
                          std::to_string(kMaxArrayParameterElements) + ". Invalid array size",
                      static_cast<unsigned long>(count));
        return fail(failure, Failure::TooManyArrayElements);
    }
    return true;
}

bool APMDataTypeValidator::isValidArrayParamItem(const platform::PropertyValue& element,
                                                 APMValidationFailure* failure) {
    if (element.asDictionary()) return true;
    monitor().log(0, 13014, "Array param must be a dictionary. Parameters", elementDescription(element));
    return fail(failure, Failure::ArrayElementNotDictionary);
}
