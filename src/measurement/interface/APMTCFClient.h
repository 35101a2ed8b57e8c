#pragma once
// APMTCFClient: turns the TCF data of the application's preferences into
// consent of source 5. Each change of the data (compared with the reading it
// stored last time, in its own suite) is reported with the internal event
// "_tcf"; the derived consent is applied when the data says it applies (or
// once, for readings stored before the vendor bit was taken into account).
// Used from the engine's worker queue only.

#include <memory>

#include "measurement/interface/APMTCFData.h"

class APMConsentFacade;
class APMConsentSettingsStore;
class APMUserDefaults;

inline constexpr const char* kAPMTCFSuiteName = "com.vadova.vaz.measurement.tcf.userdefaults";

class APMTCFClient {
public:
    // `applicationDefaults`: where the consent-management platform writes;
    // `store`: the client's own suite. `facade` may be null (no event).
    APMTCFClient(std::shared_ptr<APMUserDefaults> applicationDefaults, std::shared_ptr<APMUserDefaults> store,
                 std::shared_ptr<APMConsentSettingsStore> consent, std::shared_ptr<APMConsentFacade> facade);

    const APMTCFData& tcfData() const { return tcfData_; }
    bool isDMARegion() const { return isDMARegion_; }
    void setIsDMARegion(bool isDMARegion) { isDMARegion_ = isDMARegion; }

    // Re-reads the data; when it changed, logs "_tcf", stores the reading and
    // applies its consent where it applies. An unchanged reading does nothing.
    void setConsentFromTCFData();

    void readTCFData();
    // TCF enabled, advertiser consent mode on and GDPR applying.
    bool shouldApplyTCFData() const;
    bool shouldApplyOneTimeTCFVendorFix() const;
    bool hasTCFDataToRead() const;
    bool persistedValuesEqualCurrentData() const;
    void storeCurrentData();
    // The consent of the reading stored last.
    APMConsentSettings previousConsent() const;
    void clearPersistedValues();

private:
    std::shared_ptr<APMUserDefaults> applicationDefaults_;
    std::shared_ptr<APMUserDefaults> store_;
    std::shared_ptr<APMConsentSettingsStore> consent_;
    std::shared_ptr<APMConsentFacade> facade_;
    APMTCFData tcfData_;
    bool isDMARegion_ = true;
};
