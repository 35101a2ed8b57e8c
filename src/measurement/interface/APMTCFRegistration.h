#pragma once
// The legal bases under which the measurement library processes each TCF
// purpose, and its vendor ID in the TCF vendor lists.

#include <set>

inline constexpr int kAPMTCFVendorID = 755;

class APMTCFRegistration {
public:
    static const APMTCFRegistration& sharedInstance();

    bool hasConsentForPurposeID(int purposeID) const { return consentPurposes_.count(purposeID) > 0; }
    bool hasLegitimateInterestForPurposeID(int purposeID) const {
        return legitimateInterestPurposes_.count(purposeID) > 0;
    }
    // A publisher restriction may switch the legal basis of these purposes.
    bool hasFlexibleLegitimateInterestForPurposeID(int purposeID) const {
        return flexiblePurposes_.count(purposeID) > 0;
    }

private:
    std::set<int> consentPurposes_{1, 3, 4};
    std::set<int> legitimateInterestPurposes_{2, 7, 9, 10};
    std::set<int> flexiblePurposes_{2, 7, 9, 10};
};
