#pragma once
// The event as rule programs see it: a name, a timestamp (in the caller's
// unit) and parameters as plain objects. Setting a parameter keeps the kind
// it had (APMPNormalizedParameterValue); setting none removes it.
//
// Two events are equal when their timestamps differ by at most 2^-52, their
// names are equal, and both hold the same parameter names with equal values
// (numbers by value; at the top level both integral or both floating). An
// edit that only removes parameters is therefore an edit.

#include <optional>
#include <string>

#include "platform/core/PropertyList.h"

namespace measurement::rules {

class APMPEvent {
public:
    APMPEvent() = default;
    APMPEvent(std::string name, double timestamp, platform::PropertyDictionary parameters);

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }
    const platform::PropertyDictionary& parameters() const { return parameters_; }

    // Null when absent.
    const platform::PropertyValue* parameterForName(const std::string& name) const;
    bool hasParameterName(const std::string& name) const { return parameters_.count(name) != 0; }
    void setParameter(std::optional<platform::PropertyValue> value, const std::string& name);

    bool isEqualToEvent(const APMPEvent& other) const;

private:
    std::string name_;
    double timestamp_ = 0;
    platform::PropertyDictionary parameters_;
};

// The value to store for `name` when a program sets `newValue` over
// `oldValue` (null: none), so that edits keep a parameter's numeric kind:
// - only numbers (and Booleans) are adjusted;
// - "_syn", "_err" and "_el" are always integers (fraction dropped);
// - over a floating number: unchanged; over an integer: the old value for
//   internal names (beginning with "_"), else the new one as an integer;
// - over a string: the number's text;
// - otherwise unchanged.
platform::PropertyValue APMPNormalizedParameterValue(const std::string& name, const platform::PropertyValue* oldValue,
                                                     platform::PropertyValue newValue);

}  // namespace measurement::rules
