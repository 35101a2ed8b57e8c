#include "measurement/storage/APMValue.h"

#include <cmath>
#include <limits>

#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMDecimalNumber.h"

APMParameters::APMParameters(std::initializer_list<Entry> entries) {
    for (const auto& [name, value] : entries) set(name, value);
}

const APMValue* APMParameters::find(const std::string& name) const {
    for (const auto& entry : entries_) {
        if (entry.first == name) return &entry.second;
    }
    return nullptr;
}

void APMParameters::set(std::string name, APMValue value) {
    for (auto& entry : entries_) {
        if (entry.first == name) {
            entry.second = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::move(name), std::move(value));
}

bool APMParameters::erase(const std::string& name) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->first == name) {
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

bool APMParameters::operator==(const APMParameters& other) const {
    if (size() != other.size()) return false;
    for (const auto& [name, value] : entries_) {
        const APMValue* theirs = other.find(name);
        if (!theirs || !(*theirs == value)) return false;
    }
    return true;
}

namespace {

std::optional<APMValue> scalarFromProperty(const platform::PropertyValue& object) {
    using Kind = platform::PropertyValue::Kind;
    switch (object.kind()) {
        case Kind::Real: return APMValue(*object.asReal());
        case Kind::Integer: return APMValue(*object.asInteger());
        case Kind::Boolean: return APMValue(std::int64_t{*object.asBoolean() ? 1 : 0});
        case Kind::String: return APMValue(*object.asString());
        default: return std::nullopt;
    }
}

APMValue arrayFromProperty(const platform::PropertyArray& elements) {
    std::vector<APMParameters> items;
    for (const auto& element : elements) {
        const auto* dictionary = element.asDictionary();
        if (!dictionary) continue;
        APMParameters item;
        for (const auto& [name, member] : *dictionary) {
            if (auto value = scalarFromProperty(member)) item.set(name, std::move(*value));
        }
        items.push_back(std::move(item));
    }
    return APMValue(std::move(items));
}

}  // namespace

std::optional<APMValue> APMValue::valueFromObject(const Object* object, bool allowArray) {
    if (!object) {
        APMMonitor::shared()->log(0, 35000, "Cannot create Value type with nil value");
        return std::nullopt;
    }
    if (const auto* value = std::get_if<APMValue>(object)) return *value;
    const auto& property = std::get<platform::PropertyValue>(*object);
    if (auto scalar = scalarFromProperty(property)) return scalar;
    if (allowArray && property.asArray()) return arrayFromProperty(*property.asArray());
    APMMonitor::shared()->log(0, 35001, "Cannot create Value type with unsupported object. Type",
                              platform::propertyKindName(property.kind()));
    return std::nullopt;
}

double APMValue::doubleValue() const {
    if (const auto* d = std::get_if<double>(&value_)) return *d;
    if (const auto* i = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*i);
    return 0;
}

std::int64_t APMValue::int64Value() const {
    if (const auto* i = std::get_if<std::int64_t>(&value_)) return *i;
    if (const auto* d = std::get_if<double>(&value_)) {
        if (std::isnan(*d)) return 0;
        if (*d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
        if (*d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(*d);
    }
    return 0;
}

const std::string* APMValue::stringValue() const { return std::get_if<std::string>(&value_); }

const std::vector<APMParameters>* APMValue::arrayValue() const {
    return std::get_if<std::vector<APMParameters>>(&value_);
}

std::string APMValue::description() const {
    switch (kind()) {
        case Kind::Double: return APMDecimalText(std::get<double>(value_));
        case Kind::Int64: return std::to_string(std::get<std::int64_t>(value_));
        case Kind::String: return std::get<std::string>(value_);
        case Kind::Array: return APMObjectDescription(std::get<std::vector<APMParameters>>(value_));
    }
    return {};
}

namespace {

std::string indentLines(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (start != 0) out += '\n';
        out += "    " + text.substr(start, end - start);
        start = end + 1;
    }
    return out;
}

}  // namespace

std::string APMObjectDescription(const APMParameters& parameters) {
    std::string out = "{\n";
    for (const auto& [name, value] : parameters) {
        out += indentLines(name + " = " + value.description() + ";") + "\n";
    }
    return out + "}";
}

std::string APMObjectDescription(const std::vector<APMParameters>& items) {
    std::string out = "(\n";
    for (const auto& item : items) out += indentLines(APMObjectDescription(item) + ",") + "\n";
    return out + ")";
}
