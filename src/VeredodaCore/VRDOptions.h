#pragma once
// The options of a Veredoda app, read from the "VadovaService-Info" property
// list among the application's resources (see VULMainBundle). Keys:
//   "VADOVA_APP_ID"                             string, the app ID
//   "VEREDODA_ANALYTICS_COLLECTION_ENABLED"     Boolean, default true
//   "VEREDODA_ANALYTICS_COLLECTION_DEACTIVATED" Boolean, default false
//   "VEREDODA_MEASUREMENT_UPLOAD_URL"           string, base URL of the measurement upload service
//   "VEREDODA_MEASUREMENT_ALTERNATE_UPLOAD_URL" string, its alternative (restricted app-data consent)
//   "VEREDODA_MEASUREMENT_CONFIG_URL"           string, base URL of the measurement configuration service
//   "VEREDODA_EXPERIMENT_FETCH_URL"             string, base URL of the experiment service
//   "VEREDODA_SEARCH_AD_ATTRIBUTION_URL"        string, base URL of the search-ad attribution service
//   "VEREDODA_DEFERRED_DEEP_LINK_URL"           string, base URL of the deferred deep-link service
// A Boolean key also accepts a number (non-zero is true); a value of any
// other kind is ignored and the default stands.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/core/PropertyList.h"

inline constexpr const char* kVRDServiceInfoFileName = "VadovaService-Info";
inline constexpr const char* kVRDOptionsAppIDKey = "VADOVA_APP_ID";
inline constexpr const char* kVRDOptionsAnalyticsCollectionEnabledKey = "VEREDODA_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kVRDOptionsAnalyticsCollectionDeactivatedKey = "VEREDODA_ANALYTICS_COLLECTION_DEACTIVATED";
inline constexpr const char* kVRDOptionsMeasurementUploadURLKey = "VEREDODA_MEASUREMENT_UPLOAD_URL";
inline constexpr const char* kVRDOptionsMeasurementAlternateUploadURLKey = "VEREDODA_MEASUREMENT_ALTERNATE_UPLOAD_URL";
inline constexpr const char* kVRDOptionsMeasurementConfigURLKey = "VEREDODA_MEASUREMENT_CONFIG_URL";
inline constexpr const char* kVRDOptionsExperimentFetchURLKey = "VEREDODA_EXPERIMENT_FETCH_URL";
inline constexpr const char* kVRDOptionsSearchAdAttributionURLKey = "VEREDODA_SEARCH_AD_ATTRIBUTION_URL";
inline constexpr const char* kVRDOptionsDeferredDeepLinkURLKey = "VEREDODA_DEFERRED_DEEP_LINK_URL";

struct VRDOptions {
    std::string vadovaAppID;
    bool isAnalyticsCollectionEnabled = true;
    bool isAnalyticsCollectionDeactivated = false;
    // Deployment values of the measurement services; a value that is not a
    // string is ignored.
    std::optional<std::string> measurementUploadURL;
    std::optional<std::string> measurementAlternateUploadURL;
    std::optional<std::string> measurementConfigURL;
    std::optional<std::string> experimentFetchURL;
    std::optional<std::string> searchAdAttributionURL;
    std::optional<std::string> deferredDeepLinkURL;

    // From "VadovaService-Info.plist" in the resources; nullopt when that
    // file is missing or unreadable.
    [[nodiscard]] static std::optional<VRDOptions> defaultOptions();
    // nullopt when the file cannot be read or does not hold a dictionary.
    [[nodiscard]] static std::optional<VRDOptions> optionsWithContentsOfFile(const std::filesystem::path& path);
    static VRDOptions optionsWithDictionary(const platform::PropertyDictionary& dictionary);

    bool operator==(const VRDOptions&) const = default;
};
