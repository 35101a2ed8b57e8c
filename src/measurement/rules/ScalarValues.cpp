#include "measurement/rules/ScalarValues.h"

#include <limits>

#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/StringMethods.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {

APMPUndefinedValue::APMPUndefinedValue() : APMPRuntimeValue(kKind) {}

const ValuePtr& APMPUndefinedValue::sharedInstance() {
    static const ValuePtr instance = std::make_shared<APMPUndefinedValue>();
    return instance;
}

std::u16string APMPUndefinedValue::stringValueOrError(ErrorSlot&) const { return u"undefined"; }
double APMPUndefinedValue::doubleValueOrError(ErrorSlot&) const {
    return std::numeric_limits<double>::quiet_NaN();
}
bool APMPUndefinedValue::booleanValueOrError(ErrorSlot&) const { return false; }

ValuePtr APMPUndefinedValue::applyWithName(std::u16string_view, const ValueList&, const ScopePtr&,
                                           ErrorSlot& error) {
    fail(error, PixieErrorCode::MethodOnNothing);
    return sharedInstance();
}

APMPNullValue::APMPNullValue() : APMPRuntimeValue(kKind) {}

const ValuePtr& APMPNullValue::sharedInstance() {
    static const ValuePtr instance = std::make_shared<APMPNullValue>();
    return instance;
}

std::u16string APMPNullValue::stringValueOrError(ErrorSlot&) const { return u"null"; }
double APMPNullValue::doubleValueOrError(ErrorSlot&) const { return 0; }
bool APMPNullValue::booleanValueOrError(ErrorSlot&) const { return false; }

ValuePtr APMPNullValue::applyWithName(std::u16string_view, const ValueList&, const ScopePtr&,
                                      ErrorSlot& error) {
    fail(error, PixieErrorCode::MethodOnNothing);
    return undefinedValue();
}

APMPBooleanValue::APMPBooleanValue(bool value) : APMPRuntimeValue(kKind), value_(value) {}

const ValuePtr& APMPBooleanValue::booleanValueWithBool(bool value) {
    static const ValuePtr yes = std::make_shared<APMPBooleanValue>(true);
    static const ValuePtr no = std::make_shared<APMPBooleanValue>(false);
    return value ? yes : no;
}

std::u16string APMPBooleanValue::stringValueOrError(ErrorSlot&) const {
    return value_ ? u"true" : u"false";
}
double APMPBooleanValue::doubleValueOrError(ErrorSlot&) const { return value_ ? 1 : 0; }
bool APMPBooleanValue::booleanValueOrError(ErrorSlot&) const { return value_; }

APMPNumberValue::APMPNumberValue(double value) : APMPRuntimeValue(kKind), value_(value) {}

ValuePtr APMPNumberValue::make(double value) { return std::make_shared<APMPNumberValue>(value); }

std::u16string APMPNumberValue::stringValueOrError(ErrorSlot&) const {
    return numberToString(value_);
}
double APMPNumberValue::doubleValueOrError(ErrorSlot&) const { return value_; }
bool APMPNumberValue::booleanValueOrError(ErrorSlot&) const {
    return value_ == value_ && value_ != 0;  // false for NaN, 0 and -0
}

APMPStringValue::APMPStringValue(std::u16string value)
    : APMPRuntimeValue(kKind), value_(std::move(value)) {}

ValuePtr APMPStringValue::make(std::u16string value) {
    return std::make_shared<APMPStringValue>(std::move(value));
}

ValuePtr APMPStringValue::fromUtf8(std::string_view utf8) { return make(utf16FromUtf8(utf8)); }

std::u16string APMPStringValue::stringValueOrError(ErrorSlot&) const { return value_; }
double APMPStringValue::doubleValueOrError(ErrorSlot&) const { return stringToNumber(value_); }
bool APMPStringValue::booleanValueOrError(ErrorSlot&) const { return !value_.empty(); }

ValuePtr APMPStringValue::applyWithName(std::u16string_view name, const ValueList& arguments,
                                        const ScopePtr& scope, ErrorSlot& error) {
    return applyStringMethod(*this, name, arguments, scope, error);
}

}  // namespace measurement::rules
