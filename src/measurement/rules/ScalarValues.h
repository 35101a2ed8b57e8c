#pragma once
// The scalar kinds: undefined, null, boolean, number (one IEEE double) and
// string (immutable UTF-16 text). Undefined, null and the two booleans are
// shared instances; numbers and strings are made per result.
//
//              string form          number          truthiness
//   undefined  "undefined"          NaN             false
//   null       "null"               0               false
//   boolean    "true"/"false"       1/0             itself
//   number     numberToString       itself          not 0, -0, NaN
//   string     itself               stringToNumber  length != 0
//
// Method calls on undefined and null fail with code 7 (arguments never
// evaluated); strings go to the string method table.

#include <string>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPUndefinedValue final : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Undefined;
    static const ValuePtr& sharedInstance();

    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;
    ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments,
                           const ScopePtr& scope, ErrorSlot& error) override;

    APMPUndefinedValue();
};

class APMPNullValue final : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Null;
    static const ValuePtr& sharedInstance();

    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;
    ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments,
                           const ScopePtr& scope, ErrorSlot& error) override;

    APMPNullValue();
};

class APMPBooleanValue final : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Boolean;
    static const ValuePtr& booleanValueWithBool(bool value);

    explicit APMPBooleanValue(bool value);
    bool value() const { return value_; }

    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;

private:
    bool value_;
};

class APMPNumberValue final : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Number;
    static ValuePtr make(double value);

    explicit APMPNumberValue(double value);
    double value() const { return value_; }

    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;

private:
    double value_;
};

class APMPStringValue final : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::String;
    static ValuePtr make(std::u16string value);
    // From UTF-8 text, for hosts and tests.
    static ValuePtr fromUtf8(std::string_view utf8);

    explicit APMPStringValue(std::u16string value);
    const std::u16string& value() const { return value_; }

    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;
    ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments,
                           const ScopePtr& scope, ErrorSlot& error) override;

private:
    std::u16string value_;
};

// Shorthands for the shared instances.
inline const ValuePtr& undefinedValue() { return APMPUndefinedValue::sharedInstance(); }
inline const ValuePtr& nullValue() { return APMPNullValue::sharedInstance(); }
inline const ValuePtr& booleanValue(bool value) { return APMPBooleanValue::booleanValueWithBool(value); }

}  // namespace measurement::rules
