#include "measurement/interface/APMObjectParameters.h"

#include <algorithm>

APMObjectParameters APMObjectParametersFrom(const APMParameters& parameters) {
    APMObjectParameters objects;
    objects.reserve(parameters.size());
    for (const auto& [name, value] : parameters) objects.emplace_back(name, value);
    return objects;
}

APMObjectParameters APMObjectParametersFrom(const platform::PropertyDictionary& dictionary) {
    APMObjectParameters objects;
    objects.reserve(dictionary.size());
    for (const auto& [name, value] : dictionary) objects.emplace_back(name, value);
    return objects;
}

const APMObject* APMFindObject(const APMObjectParameters& parameters, const std::string& name) {
    for (auto entry = parameters.rbegin(); entry != parameters.rend(); ++entry) {
        if (entry->first == name) return &entry->second;
    }
    return nullptr;
}

APMObjectParameters APMUniqueObjectParameters(const APMObjectParameters& parameters) {
    APMObjectParameters unique;
    unique.reserve(parameters.size());
    for (const auto& [name, object] : parameters) {
        // `name` is captured explicitly: not every compiler captures a structured binding implicitly.
        auto same = std::find_if(unique.begin(), unique.end(), [&name = name](const auto& entry) { return entry.first == name; });
        if (same == unique.end()) {
            unique.emplace_back(name, object);
        } else {
            same->second = object;
        }
    }
    return unique;
}

std::string APMObjectClassName(const APMObject& object) {
    if (std::holds_alternative<APMValue>(object)) return "APMValue";
    return platform::propertyKindName(std::get<platform::PropertyValue>(object).kind());
}
