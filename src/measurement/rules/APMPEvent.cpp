#include "measurement/rules/APMPEvent.h"

#include <cmath>

#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

using platform::PropertyValue;

bool isNumber(const PropertyValue& value) { return value.isNumber() || value.isBoolean(); }

double numberOf(const PropertyValue& value) {
    if (value.isBoolean()) return *value.asBoolean() ? 1 : 0;
    return *value.asReal();
}

bool isFloating(const PropertyValue& value) { return value.kind() == PropertyValue::Kind::Real; }

PropertyValue asInteger(const PropertyValue& value) {
    if (value.kind() == PropertyValue::Kind::Integer) return value;
    return PropertyValue(static_cast<long long>(saturatingInt64(numberOf(value))));
}

std::string textOfNumber(const PropertyValue& value) {
    switch (value.kind()) {
        case PropertyValue::Kind::Integer: return std::to_string(*value.asInteger());
        case PropertyValue::Kind::Real: return utf8FromUtf16(numberToString(*value.asReal()));
        default: return *value.asBoolean() ? "1" : "0";
    }
}

// Equality of plain objects: numbers (Booleans included) by value, strings
// exactly, containers member by member.
bool objectsEqual(const PropertyValue& a, const PropertyValue& b) {
    if (isNumber(a) || isNumber(b)) {
        if (!isNumber(a) || !isNumber(b)) return false;
        if (a.kind() == PropertyValue::Kind::Integer && b.kind() == PropertyValue::Kind::Integer) {
            return *a.asInteger() == *b.asInteger();
        }
        return numberOf(a) == numberOf(b);
    }
    if (a.kind() != b.kind()) return false;
    if (const auto* items = a.asArray()) {
        const auto* others = b.asArray();
        if (items->size() != others->size()) return false;
        for (std::size_t i = 0; i < items->size(); ++i) {
            if (!objectsEqual((*items)[i], (*others)[i])) return false;
        }
        return true;
    }
    if (const auto* members = a.asDictionary()) {
        const auto* others = b.asDictionary();
        if (members->size() != others->size()) return false;
        for (const auto& [key, member] : *members) {
            const auto other = others->find(key);
            if (other == others->end() || !objectsEqual(member, other->second)) return false;
        }
        return true;
    }
    return a == b;
}

}  // namespace

APMPEvent::APMPEvent(std::string name, double timestamp, platform::PropertyDictionary parameters)
    : name_(std::move(name)), timestamp_(timestamp), parameters_(std::move(parameters)) {}

const PropertyValue* APMPEvent::parameterForName(const std::string& name) const {
    const auto found = parameters_.find(name);
    return found == parameters_.end() ? nullptr : &found->second;
}

void APMPEvent::setParameter(std::optional<PropertyValue> value, const std::string& name) {
    if (!value) {
        parameters_.erase(name);
        return;
    }
    PropertyValue normalized = APMPNormalizedParameterValue(name, parameterForName(name), std::move(*value));
    parameters_.insert_or_assign(name, std::move(normalized));
}

bool APMPEvent::isEqualToEvent(const APMPEvent& other) const {
    if (this == &other) return true;
    if (std::fabs(timestamp_ - other.timestamp_) > 2.220446049250313e-16) return false;
    if (name_ != other.name_ || parameters_.size() != other.parameters_.size()) return false;
    for (const auto& [name, value] : parameters_) {
        const PropertyValue* theirs = other.parameterForName(name);
        if (!theirs || !objectsEqual(value, *theirs)) return false;
        if (isNumber(value) && isFloating(value) != isFloating(*theirs)) return false;
    }
    return true;
}

PropertyValue APMPNormalizedParameterValue(const std::string& name, const PropertyValue* oldValue,
                                           PropertyValue newValue) {
    if (!isNumber(newValue)) return newValue;
    if (name == "_syn" || name == "_err" || name == "_el") return asInteger(newValue);
    if (oldValue && isNumber(*oldValue)) {
        if (isFloating(*oldValue)) return newValue;
        if (!name.empty() && name.front() == '_') return *oldValue;
        return asInteger(newValue);
    }
    if (oldValue && oldValue->isString()) return PropertyValue(textOfNumber(newValue));
    return newValue;
}

}  // namespace measurement::rules
