#include "measurement/interface/APMTCFClient.h"

#include <gtest/gtest.h>

#include "ConsentTestSupport.h"
#include "measurement/interface/APMConsentSettingsStore.h"

using consent_test::ConsentTest;
using consent_test::RecordingFacade;
using consent_test::stringParameter;
using Util = APMConsentSettingsUtil;

namespace {

struct TCFClientTest : ConsentTest {
    std::shared_ptr<APMUserDefaults> application = defaults("application");
    std::shared_ptr<RecordingFacade> facade = std::make_shared<RecordingFacade>();
    std::shared_ptr<APMConsentSettingsStore> consent =
        std::make_shared<APMConsentSettingsStore>(defaults(kAPMAnalyticsSuiteName), facade);

    // A client as a new process makes it, over the same files.
    APMTCFClient client() { return APMTCFClient(application, defaults(kAPMTCFSuiteName), consent, facade); }

    void writeGrantingData(int policyVersion = 4) {
        std::string vendor(755, '0');
        vendor[754] = '1';
        application->setInteger(1, "IABTCF_gdprApplies");
        application->setInteger(1, "IABTCF_EnableAdvertiserConsentMode");
        application->setInteger(policyVersion, "IABTCF_PolicyVersion");
        application->setInteger(300, "IABTCF_CmpSdkID");
        application->setObject(platform::PropertyValue(vendor), "IABTCF_VendorConsents");
        application->setObject(platform::PropertyValue(vendor), "IABTCF_VendorLegitimateInterests");
        application->setObject(platform::PropertyValue("1011001"), "IABTCF_PurposeConsents");
        application->setObject(platform::PropertyValue("0000001"), "IABTCF_PurposeLegitimateInterests");
    }
};

TEST_F(TCFClientTest, NoTCFValuesDoNothing) {
    auto tcf = client();
    tcf.setConsentFromTCFData();
    EXPECT_FALSE(tcf.hasTCFDataToRead());
    EXPECT_TRUE(facade->events.empty());
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    EXPECT_FALSE(defaults(kAPMTCFSuiteName)->objectForKey("tcf_StringRepresentation"));
}

TEST_F(TCFClientTest, ChangedDataLogsTheEventStoresItAndAppliesTheConsent) {
    writeGrantingData();
    auto tcf = client();
    tcf.setIsDMARegion(false);
    tcf.setConsentFromTCFData();

    ASSERT_EQ(facade->events.size(), 1u);
    const auto& event = facade->events[0];
    EXPECT_EQ(event.origin, "auto");
    EXPECT_EQ(event.name, "_tcf");
    EXPECT_EQ(stringParameter(event, "_tcfd"), "14I4e");
    EXPECT_EQ(stringParameter(event, "_tcfd2"), "21111");
    EXPECT_EQ(stringParameter(event, "_tcfm"), "01");
    EXPECT_EQ(Util::consentSource(), 5);
    const APMConsentSettings granted{{"ad_storage", "granted"}, {"ad_personalization", "granted"},
                                     {"ad_user_data", "granted"}};
    EXPECT_EQ(Util::consentSettings(), granted);
    EXPECT_EQ(consent->consentSettingsTCF(), granted);
    EXPECT_TRUE(tcf.persistedValuesEqualCurrentData());
}

TEST_F(TCFClientTest, UnchangedDataDoesNothingEvenAfterARestart) {
    writeGrantingData();
    client().setConsentFromTCFData();
    Util::resetForTesting();
    client().setConsentFromTCFData();
    EXPECT_EQ(facade->events.size(), 1u);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
}

TEST_F(TCFClientTest, ChangeSinceTheStoredReadingIsComparedWithItsConsent) {
    writeGrantingData();
    client().setConsentFromTCFData();
    application->setInteger(301, "IABTCF_CmpSdkID");
    client().setConsentFromTCFData();
    application->setInteger(3, "IABTCF_PolicyVersion");
    auto tcf = client();
    EXPECT_EQ(tcf.previousConsent()["ad_user_data"], platform::PropertyValue("granted"));
    tcf.setConsentFromTCFData();

    ASSERT_EQ(facade->events.size(), 3u);
    EXPECT_EQ(stringParameter(facade->events[1], "_tcfm"), "00");
    EXPECT_EQ(stringParameter(facade->events[2], "_tcfm"), "01");
    EXPECT_EQ(Util::consentSettings()->at("ad_user_data"), platform::PropertyValue("denied"));
}

TEST_F(TCFClientTest, DisabledInInfoPlistStillReportsButNeverApplies) {
    writeInfoPlist({{"VADOVA_ANALYTICS_TCF_DATA_ENABLED", false}});
    writeGrantingData();
    auto tcf = client();
    tcf.setConsentFromTCFData();
    ASSERT_EQ(facade->events.size(), 1u);
    EXPECT_EQ(stringParameter(facade->events[0], "_tcfd"), "14I4b");
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    EXPECT_TRUE(tcf.persistedValuesEqualCurrentData());
}

TEST_F(TCFClientTest, OneTimeVendorFixAppliesDenialWhenTheDataDoesNotApply) {
    // A reading stored by an earlier format, and data without the vendor bit.
    defaults(kAPMTCFSuiteName)->setObject(platform::PropertyValue("isTCFDataEnabled=1"), "tcf_StringRepresentation");
    application->setInteger(1, "IABTCF_gdprApplies");
    application->setInteger(1, "IABTCF_EnableAdvertiserConsentMode");
    application->setObject(platform::PropertyValue("1111"), "IABTCF_PurposeConsents");
    auto tcf = client();
    tcf.readTCFData();
    EXPECT_TRUE(tcf.shouldApplyOneTimeTCFVendorFix());
    tcf.setConsentFromTCFData();
    ASSERT_EQ(facade->events.size(), 1u);
    EXPECT_EQ(stringParameter(facade->events[0], "_tcfm"), "10");
    EXPECT_TRUE(Util::isAdStorageDenied());
    EXPECT_FALSE(tcf.shouldApplyOneTimeTCFVendorFix());
}

TEST_F(TCFClientTest, DataThatDoesNotApplyIsStoredWithoutConsent) {
    writeGrantingData();
    application->setInteger(0, "IABTCF_gdprApplies");
    auto tcf = client();
    tcf.setConsentFromTCFData();
    EXPECT_EQ(facade->events.size(), 1u);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    tcf.clearPersistedValues();
    EXPECT_FALSE(tcf.persistedValuesEqualCurrentData());
}

}  // namespace
