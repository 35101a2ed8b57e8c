#include "VeredodaCore/VRDOptions.h"

#include "VadovaUtilities/VULMainBundle.h"

namespace {

bool booleanValue(const platform::PropertyDictionary& dictionary, const char* key, bool fallback) {
    const auto found = dictionary.find(key);
    if (found == dictionary.end()) return fallback;
    if (const auto flag = found->second.asBoolean()) return *flag;
    if (const auto number = found->second.asReal()) return *number != 0;
    return fallback;
}

std::optional<std::string> stringValue(const platform::PropertyDictionary& dictionary, const char* key) {
    const auto found = dictionary.find(key);
    if (found == dictionary.end()) return std::nullopt;
    if (const std::string* text = found->second.asString()) return *text;
    return std::nullopt;
}

}  // namespace

std::optional<VRDOptions> VRDOptions::defaultOptions() {
    const auto path = VULMainBundle::pathForResource(kVRDServiceInfoFileName, "plist");
    if (!path) return std::nullopt;
    return optionsWithContentsOfFile(*path);
}

std::optional<VRDOptions> VRDOptions::optionsWithContentsOfFile(const std::filesystem::path& path) {
    const auto contents = platform::readPropertyListFile(path.string());
    if (!contents) return std::nullopt;
    const platform::PropertyDictionary* dictionary = contents->asDictionary();
    if (dictionary == nullptr) return std::nullopt;
    return optionsWithDictionary(*dictionary);
}

VRDOptions VRDOptions::optionsWithDictionary(const platform::PropertyDictionary& dictionary) {
    VRDOptions options;
    if (const auto found = dictionary.find(kVRDOptionsAppIDKey); found != dictionary.end()) {
        if (const std::string* appID = found->second.asString()) options.vadovaAppID = *appID;
    }
    options.isAnalyticsCollectionEnabled =
        booleanValue(dictionary, kVRDOptionsAnalyticsCollectionEnabledKey, options.isAnalyticsCollectionEnabled);
    options.isAnalyticsCollectionDeactivated = booleanValue(dictionary, kVRDOptionsAnalyticsCollectionDeactivatedKey,
                                                            options.isAnalyticsCollectionDeactivated);
    options.measurementUploadURL = stringValue(dictionary, kVRDOptionsMeasurementUploadURLKey);
    options.measurementAlternateUploadURL = stringValue(dictionary, kVRDOptionsMeasurementAlternateUploadURLKey);
    options.measurementConfigURL = stringValue(dictionary, kVRDOptionsMeasurementConfigURLKey);
    options.experimentFetchURL = stringValue(dictionary, kVRDOptionsExperimentFetchURLKey);
    options.searchAdAttributionURL = stringValue(dictionary, kVRDOptionsSearchAdAttributionURLKey);
    options.deferredDeepLinkURL = stringValue(dictionary, kVRDOptionsDeferredDeepLinkURLKey);
    return options;
}
