#pragma once
// APMUserAttribute: one user property, with the origin that set it, its name,
// value and the time it was set (seconds since 1970).

#include <string>

#include "measurement/storage/APMValue.h"

class APMUserAttribute {
public:
    APMUserAttribute(std::string origin, std::string name, APMValue value, double lastSetTimestamp)
        : origin_(std::move(origin)), name_(std::move(name)), value_(std::move(value)),
          lastSetTimestamp_(lastSetTimestamp) {}

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    const APMValue& value() const { return value_; }
    double lastSetTimestamp() const { return lastSetTimestamp_; }
    // True when the name is not empty and does not begin with "_".
    bool isPublic() const { return !name_.empty() && name_[0] != '_'; }

    bool operator==(const APMUserAttribute&) const = default;

private:
    std::string origin_;
    std::string name_;
    APMValue value_;
    double lastSetTimestamp_;
};
