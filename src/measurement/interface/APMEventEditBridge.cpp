// The event as the rule engine sees it, and back.
#include "measurement/interface/APMEvent.h"

#include "measurement/storage/APMNameMaps.h"

namespace {

// A scalar value as a plain object; arrays have no plain scalar form.
std::optional<platform::PropertyValue> plainScalar(const APMValue& value) {
    switch (value.kind()) {
        case APMValue::Kind::Double: return platform::PropertyValue(value.doubleValue());
        case APMValue::Kind::Int64: return platform::PropertyValue(static_cast<long long>(value.int64Value()));
        case APMValue::Kind::String: return platform::PropertyValue(*value.stringValue());
        case APMValue::Kind::Array: return std::nullopt;
    }
    return std::nullopt;
}

// Item dictionaries keep their scalars; an array inside an item is left out.
platform::PropertyValue plainItems(const std::vector<APMParameters>& items) {
    platform::PropertyArray plain;
    plain.reserve(items.size());
    for (const APMParameters& item : items) {
        platform::PropertyDictionary dictionary;
        for (const auto& [name, value] : item) {
            if (auto scalar = plainScalar(value)) dictionary.emplace(name, std::move(*scalar));
        }
        plain.emplace_back(std::move(dictionary));
    }
    return platform::PropertyValue(std::move(plain));
}

std::string mappedName(const std::map<std::string, std::string>& map, const std::string& name) {
    auto found = map.find(name);
    return found == map.end() ? name : found->second;
}

}  // namespace

std::string APMEvent::editEventName() const { return mappedName(APMInternalToPublicEventNameMap(), name_); }

APMObjectParameters APMEvent::editEventParameters() const {
    APMObjectParameters plain;
    plain.reserve(parameters_.size());
    for (const auto& [name, value] : parameters_) {
        if (const auto* items = value.arrayValue()) {
            plain.emplace_back(name, plainItems(*items));
        } else if (auto scalar = plainScalar(value)) {
            plain.emplace_back(name, std::move(*scalar));
        }
    }
    return plain;
}

std::optional<APMEvent> APMEvent::eventFromEditEvent(const std::string& name, double timestamp,
                                                     const APMObjectParameters& parameters) {
    std::string origin = "app";
    if (const APMObject* given = APMFindObject(parameters, "_o")) {
        if (const auto* property = std::get_if<platform::PropertyValue>(given); property && property->asString()) {
            origin = *property->asString();
        } else if (const auto* value = std::get_if<APMValue>(given); value && value->stringValue()) {
            origin = *value->stringValue();
        }
    }
    return initWithOrigin(origin, false, mappedName(APMPublicToInternalEventNameMap(), name), timestamp, 0,
                          parameters);
}
