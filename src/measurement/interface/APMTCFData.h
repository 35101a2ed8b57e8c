#pragma once
// APMTCFData: one reading of the TCF (version 2) values a consent-management
// platform keeps in the application's preferences, and what they mean for
// the library's own vendor: the legal basis and consent reason per purpose,
// and the consent states of ad storage, ad personalization and ad user data.
// Bit strings are texts of "0" and "1"; purpose p is at index p - 1.

#include <array>
#include <optional>
#include <string>

#include "measurement/interface/APMConsentTypes.h"
#include "platform/core/PropertyList.h"

class APMUserDefaults;
class APMTCFData;

inline constexpr int kAPMTCFPublisherRestrictionCount = 10;

// The values of one reading; set them to build an APMTCFData by hand.
struct APMTCFDataGenerator {
    bool isTCFDataEnabled = false;
    std::optional<platform::PropertyValue> isAdvertiserConsentModeEnabled;  // numbers
    std::optional<std::string> vendorConsents;
    std::optional<std::string> vendorLegitimateInterests;
    std::optional<platform::PropertyValue> cmpSDKID;
    std::optional<platform::PropertyValue> gdprApplies;
    std::optional<platform::PropertyValue> policyVersion;
    std::optional<std::string> purposeConsents;
    std::optional<std::string> purposeLegitimateInterests;
    // Per purpose 1 to 10: the library's one-character restriction, or "".
    std::array<std::string, kAPMTCFPublisherRestrictionCount> publisherRestrictions;
    std::optional<platform::PropertyValue> isPurposeOneTreatmentEnabled;
    std::optional<std::string> publisherCC;

    APMTCFData generateData() const;
};

enum class APMTCFPublisherRestriction { NotAllowed = 0, RequireConsent = 1, RequireLegitimateInterest = 2, None = 3 };
enum class APMTCFLegalBasis { None = 0, RestrictionConflict = 1, Consent = 2, LegitimateInterest = 3 };

class APMTCFData {
public:
    // Consent reasons: one decimal digit each.
    enum Reason {
        ReasonGranted = 1,
        ReasonNoLegalBasis = 3,
        ReasonNoVendorConsent = 4,
        ReasonNoVendorLegitimateInterest = 5,
        ReasonNoPurposeConsent = 6,
        ReasonNoPurposeLegitimateInterest = 7,
        ReasonRestrictionConflict = 8,
    };

    // Enabled as the Info.plist says, every other value none.
    APMTCFData();
    explicit APMTCFData(APMTCFDataGenerator values) : values_(std::move(values)) {}

    // VADOVA_ANALYTICS_TCF_DATA_ENABLED: absent -> true, a number -> its
    // Boolean, anything else -> false.
    static bool readTCFDataEnabledStateFromPlist();
    // Reads the IABTCF values; a value of the wrong kind reads as none.
    void readFromUserDefaults(const APMUserDefaults& defaults);

    const APMTCFDataGenerator& values() const { return values_; }

    bool hasVadovaInVendorConsents() const;
    bool hasVadovaInVendorLegitimateInterests() const;
    bool canAccessAdUserDataPurpose() const;  // policy version 4 or later
    bool isPurposeOneGrantedWithSpecialTreatment() const;

    static APMTCFPublisherRestriction publisherRestrictionTypeFromString(const std::string& text);
    APMTCFPublisherRestriction publisherRestrictionForPurposeID(int purposeID) const;
    APMTCFLegalBasis legalBasisCheckFromPurposeID(int purposeID) const;
    int consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(int purposeID) const;
    bool isPurposeGrantedWithRestrictionCheckForPurposeID(int purposeID) const;

    bool isAdStoragePurposeGranted() const;
    bool isAdPersonalizationPurposeGranted() const;
    bool isAdUserDataPurposeGranted() const;
    // {"ad_storage", "ad_personalization", "ad_user_data"}: "granted" or "denied".
    APMConsentSettings consent() const;

private:
    APMTCFDataGenerator values_;
};

// Reads of the number values: a Boolean as 0 or 1, a real truncated.
std::optional<long long> APMTCFIntegerOf(const std::optional<platform::PropertyValue>& number);
bool APMTCFBooleanOf(const std::optional<platform::PropertyValue>& number);
