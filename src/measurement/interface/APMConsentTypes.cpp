#include "measurement/interface/APMConsentTypes.h"

#include "platform/core/Unicode.h"

std::int64_t APMConsentTypeFromString(std::string_view name) {
    for (std::size_t index = 0; index < kAPMConsentTypesInOrder.size(); ++index) {
        if (name == kAPMConsentTypesInOrder[index]) return static_cast<std::int64_t>(index + 1);
    }
    return 0;
}

std::int64_t APMConsentStatusFromString(std::string_view name) {
    if (name == kAPMConsentStatusGranted) return 1;
    if (name == kAPMConsentStatusDenied) return 2;
    return 0;
}

bool APMConsentValueIs(const platform::PropertyValue* value, std::string_view status) {
    if (value == nullptr || !value->isString()) return false;
    return platform::toLowerCase(*value->asString()) == status;
}

std::int64_t APMConsentDiagnosticDigitForSource(std::int64_t source) {
    switch (source) {
        case APMConsentSourceTCF: return 7;
        case APMConsentSourceThirdParty: return 5;
        case APMConsentSourcePlist: return 3;
        case APMConsentSourceAPI: return 5;
        case APMConsentSourceStartOptions: return 4;
        default: return 0;
    }
}

std::string APMConsentValueDescription(const platform::PropertyValue& value) {
    if (const std::string* text = value.asString()) return *text;
    if (auto flag = value.asBoolean()) return *flag ? "1" : "0";
    if (value.kind() == platform::PropertyValue::Kind::Integer) return std::to_string(*value.asInteger());
    if (auto real = value.asReal()) return std::to_string(*real);
    return "(not a status)";
}

APMConsentSettings APMConsentSettingsFromDictionary(const platform::PropertyDictionary& dictionary) {
    APMConsentSettings settings;
    for (const char* type : kAPMConsentTypesInOrder) {
        if (auto found = dictionary.find(type); found != dictionary.end()) settings.emplace(type, found->second);
    }
    return settings;
}
