#include "measurement/interface/APMTCFData.h"

#include <gtest/gtest.h>

#include "ConsentTestSupport.h"
#include "measurement/interface/APMTCFEventParameters.h"
#include "measurement/interface/APMTCFStringRepresentation.h"

using consent_test::ConsentTest;

namespace {

// A bit string of `length` zeros with ones at the given 0-based indices.
std::string bits(std::initializer_list<int> ones, std::size_t length = 760) {
    std::string text(length, '0');
    for (int index : ones) text[static_cast<std::size_t>(index)] = '1';
    return text;
}

std::string purposes(std::initializer_list<int> granted) {
    std::string text(11, '0');
    for (int purpose : granted) text[static_cast<std::size_t>(purpose - 1)] = '1';
    return text;
}

APMTCFDataGenerator applyingData() {
    APMTCFDataGenerator values;
    values.isTCFDataEnabled = true;
    values.isAdvertiserConsentModeEnabled = platform::PropertyValue(1);
    values.gdprApplies = platform::PropertyValue(1);
    values.policyVersion = platform::PropertyValue(4);
    return values;
}

struct TCFDataTest : ConsentTest {};

TEST_F(TCFDataTest, ConsentReasonMatrix) {
    struct Case {
        const char* name;
        int purpose;
        bool vendorConsent;
        bool vendorInterest;
        std::string purposeConsents;
        std::string purposeInterests;
        std::string restriction;
        int reason;
    };
    const Case cases[] = {
        {"consent purpose granted", 1, true, false, purposes({1}), "", "", 1},
        {"no vendor consent", 1, false, true, purposes({1}), "", "", 4},
        {"purpose consent bit off", 3, true, false, purposes({1}), "", "", 6},
        {"interest purpose granted", 7, false, true, "", purposes({7}), "", 1},
        {"no vendor interest", 7, true, false, purposes({7}), purposes({7}), "", 5},
        {"purpose interest bit off", 7, false, true, "", purposes({2}), "", 7},
        {"not allowed", 1, true, true, purposes({1}), purposes({1}), "0", 3},
        {"consent purpose forced to interest", 1, true, true, purposes({1}), purposes({1}), "2", 8},
        {"flexible purpose switched to consent", 7, true, false, purposes({7}), "", "1", 1},
        {"flexible purpose switched, bit off", 7, true, true, "", purposes({7}), "1", 6},
        {"consent required of a consent purpose", 4, true, false, purposes({4}), "", "1", 1},
        {"purpose without registration", 5, true, true, purposes({5}), purposes({5}), "", 3},
    };
    for (const Case& c : cases) {
        APMTCFDataGenerator values = applyingData();
        values.vendorConsents = bits(c.vendorConsent ? std::initializer_list<int>{754} : std::initializer_list<int>{});
        values.vendorLegitimateInterests =
            bits(c.vendorInterest ? std::initializer_list<int>{754} : std::initializer_list<int>{});
        values.purposeConsents = c.purposeConsents;
        values.purposeLegitimateInterests = c.purposeInterests;
        values.publisherRestrictions[static_cast<std::size_t>(c.purpose - 1)] = c.restriction;
        EXPECT_EQ(values.generateData().consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(c.purpose),
                  c.reason)
            << c.name;
    }
}

TEST_F(TCFDataTest, RestrictionTypesAndPurposesBeyondTheList) {
    EXPECT_EQ(APMTCFData::publisherRestrictionTypeFromString("0"), APMTCFPublisherRestriction::NotAllowed);
    EXPECT_EQ(APMTCFData::publisherRestrictionTypeFromString("2"), APMTCFPublisherRestriction::RequireLegitimateInterest);
    EXPECT_EQ(APMTCFData::publisherRestrictionTypeFromString(""), APMTCFPublisherRestriction::None);
    EXPECT_EQ(APMTCFData::publisherRestrictionTypeFromString("3"), APMTCFPublisherRestriction::None);
    APMTCFDataGenerator values;
    values.publisherRestrictions.fill("0");
    const APMTCFData data = values.generateData();
    EXPECT_EQ(data.publisherRestrictionForPurposeID(10), APMTCFPublisherRestriction::NotAllowed);
    EXPECT_EQ(data.publisherRestrictionForPurposeID(11), APMTCFPublisherRestriction::None);
    EXPECT_EQ(data.publisherRestrictionForPurposeID(0), APMTCFPublisherRestriction::None);
}

TEST_F(TCFDataTest, AllThreeTypesGrantedNeedTheInterestBitsForPurposeSeven) {
    APMTCFDataGenerator values = applyingData();
    values.vendorConsents = bits({754});
    values.purposeConsents = purposes({1, 3, 4, 7});
    // Purpose 7's basis is legitimate interest: the consent bits alone do not grant it.
    EXPECT_EQ(values.generateData().consent()["ad_user_data"], platform::PropertyValue("denied"));

    values.vendorLegitimateInterests = bits({754});
    values.purposeLegitimateInterests = purposes({7});
    APMConsentSettings expected{{"ad_storage", "granted"}, {"ad_personalization", "granted"}, {"ad_user_data", "granted"}};
    EXPECT_EQ(values.generateData().consent(), expected);

    values.policyVersion = platform::PropertyValue(3);
    expected["ad_user_data"] = "denied";
    EXPECT_EQ(values.generateData().consent(), expected);
}

TEST_F(TCFDataTest, RestrictionRequiringInterestDeniesAdStorage) {
    APMTCFDataGenerator values = applyingData();
    values.vendorConsents = bits({754});
    values.purposeConsents = purposes({1});
    values.publisherRestrictions[0] = "2";
    EXPECT_EQ(values.generateData().consent()["ad_storage"], platform::PropertyValue("denied"));
}

TEST_F(TCFDataTest, PurposeOneSpecialTreatmentNeedsSwitzerlandAndTheVendorBit) {
    APMTCFDataGenerator values = applyingData();
    values.isPurposeOneTreatmentEnabled = platform::PropertyValue(1);
    values.publisherCC = "CH";
    values.purposeConsents = purposes({});
    EXPECT_EQ(values.generateData().consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1), 4);
    values.vendorConsents = bits({754});
    EXPECT_EQ(values.generateData().consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1), 1);
    values.publisherCC = "DE";
    EXPECT_EQ(values.generateData().consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1), 6);
}

TEST_F(TCFDataTest, ReadsTheApplicationPreferencesTakingMistypedValuesAsNone) {
    auto application = defaults("application");
    application->setInteger(1, "IABTCF_gdprApplies");
    application->setObject(platform::PropertyValue("1"), "IABTCF_EnableAdvertiserConsentMode");
    application->setObject(platform::PropertyValue(7), "IABTCF_VendorConsents");
    application->setObject(platform::PropertyValue(purposes({1})), "IABTCF_PurposeConsents");
    application->setObject(platform::PropertyValue(std::string(754, '1') + "2"), "IABTCF_PublisherRestrictions1");
    application->setObject(platform::PropertyValue(std::string(754, '1')), "IABTCF_PublisherRestrictions2");
    APMTCFData data;
    data.readFromUserDefaults(*application);
    EXPECT_TRUE(data.values().isTCFDataEnabled);
    EXPECT_EQ(data.values().gdprApplies, platform::PropertyValue(1));
    EXPECT_FALSE(data.values().isAdvertiserConsentModeEnabled);
    EXPECT_FALSE(data.values().vendorConsents);
    EXPECT_EQ(data.values().publisherRestrictions[0], "2");
    EXPECT_EQ(data.values().publisherRestrictions[1], "");
}

TEST_F(TCFDataTest, InfoPlistSwitch) {
    EXPECT_TRUE(APMTCFData::readTCFDataEnabledStateFromPlist());
    writeInfoPlist({{"VADOVA_ANALYTICS_TCF_DATA_ENABLED", false}});
    EXPECT_FALSE(APMTCFData::readTCFDataEnabledStateFromPlist());
    writeInfoPlist({{"VADOVA_ANALYTICS_TCF_DATA_ENABLED", "YES"}});
    EXPECT_FALSE(APMTCFData::readTCFDataEnabledStateFromPlist());
    writeInfoPlist({{"VADOVA_ANALYTICS_TCF_DATA_ENABLED", 1}});
    EXPECT_TRUE(APMTCFData::readTCFDataEnabledStateFromPlist());
}

TEST_F(TCFDataTest, StringRepresentation) {
    APMTCFDataGenerator values;
    values.isTCFDataEnabled = true;
    EXPECT_EQ(APMTCFStringRepresentation(values.generateData()), "_v_=2,isTCFDataEnabled=1");

    values = applyingData();
    values.cmpSDKID = platform::PropertyValue(300);
    values.vendorConsents = bits({754});
    values.vendorLegitimateInterests = bits({});
    values.purposeConsents = "1011";
    values.purposeLegitimateInterests = "0100";
    values.publisherRestrictions[2] = "1";
    values.isPurposeOneTreatmentEnabled = platform::PropertyValue(1);
    values.publisherCC = "DE";
    EXPECT_EQ(APMTCFStringRepresentation(values.generateData()),
              "_v_=2,isTCFDataEnabled=1,isAdvertiserConsentModeEnabled=1,cmpSDKID=300,hasVadovaInVendorConsents=1,"
              "hasVadovaInVendorLegitimateInterests=0,gdprApplies=1,policyVersion=4,purposeConsents=1011,"
              "purposeLegitimateInterests=0100,publisherRestrictions=||1|||||||,isPurposeOneTreatmentEnabled=1,"
              "publisherCC=DE");
}

TEST_F(TCFDataTest, BundleParameterEncodesSdkVersionAndFlags) {
    struct Case {
        std::optional<int> cmpSDKID;
        std::optional<int> policyVersion;
        bool dma;
        bool gdpr;
        bool enabled;
        bool advertiserMode;
        const char* expected;
    };
    const Case cases[] = {
        {300, 4, true, true, true, true, "14I4f"},
        {std::nullopt, std::nullopt, false, false, false, false, "10000"},
        {4095, 63, false, true, false, false, "1___2"},
        {4096, 64, true, false, true, false, "10005"},
        {-1, -1, false, false, false, true, "10008"},
    };
    for (const Case& c : cases) {
        APMTCFDataGenerator values;
        values.isTCFDataEnabled = c.enabled;
        if (c.cmpSDKID) values.cmpSDKID = platform::PropertyValue(*c.cmpSDKID);
        if (c.policyVersion) values.policyVersion = platform::PropertyValue(*c.policyVersion);
        values.gdprApplies = platform::PropertyValue(c.gdpr ? 1 : 0);
        values.isAdvertiserConsentModeEnabled = platform::PropertyValue(c.advertiserMode ? 1 : 0);
        EXPECT_EQ(APMTCFBundleParameterValue(values.generateData(), c.dma), c.expected);
    }
}

TEST_F(TCFDataTest, ReasonAndMigrationParameters) {
    APMTCFDataGenerator values = applyingData();
    values.vendorConsents = bits({754});
    values.purposeConsents = purposes({1, 4});
    EXPECT_EQ(APMTCFD2ParamValue(values.generateData()), "21615");
    EXPECT_EQ(APMTCFDMigrationParamValue(true, false), "10");
    EXPECT_EQ(APMTCFDMigrationParamValue(false, true), "01");
}

}  // namespace
