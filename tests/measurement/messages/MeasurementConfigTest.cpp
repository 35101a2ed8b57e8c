// MeasurementConfig: accepting a fetched configuration and reading its
// consent configuration.
#include <gtest/gtest.h>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/ConsentConfigMaps.h"
#include "measurement/messages/ConsentNames.h"
#include "measurement/messages/MeasurementConfigAcceptance.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"
#include "measurement/messages/WireWriter.h"

namespace {

constexpr const char* kAppID = "1:1234:macos:abcd";

WireWriter audience(std::uint32_t audienceID) {
    WireWriter filter;
    filter.varint(1, 0).string(2, "purchase");
    WireWriter message;
    message.varint(1, audienceID).message(3, filter);
    return message;
}

WireWriter configBody(const std::string& appID) {
    WireWriter body;
    body.varint(1, 7).string(2, appID).message(6, audience(1)).message(6, audience(2));
    body.message(4, WireWriter().string(1, "measurement.upload.interval").string(2, "60000"));
    return body;
}

WireWriter defaultEntry(std::uint64_t type, std::uint64_t status) {
    return std::move(WireWriter().varint(1, type).varint(2, status));
}

APMConsentConfigMaps mapsOf(const WireWriter& consentConfig) {
    auto message = APMPBConsentConfig::initWithBuffer(consentConfig.bytes());
    EXPECT_NE(message, nullptr);
    return APMConsentConfigMapsFromMessage(*message);
}

}  // namespace

TEST(ConfigAcceptance, AudiencesAreTakenOutOfTheStoredForm) {
    auto accepted = APMAcceptMeasurementConfig(configBody(kAppID).bytes(), kAppID);
    ASSERT_TRUE(accepted.has_value());
    ASSERT_EQ(accepted->audiences.size(), 2u);
    EXPECT_EQ(APMPBGetInt32(*accepted->audiences[1], AudienceSlot::AudienceID), 2);
    auto stored = throughWire(*accepted->config);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(APMPBGetMessages<APMPBAudience>(*stored, MeasurementConfigSlot::Audiences).size(), 0u);
    EXPECT_EQ(APMPBGetInt64(*stored, 0), 7);
    EXPECT_EQ(APMPBGetMessages<APMPBSetting>(*stored, 3).size(), 1u);
}

TEST(ConfigAcceptance, AConfigurationForAnotherAppIsRefused) {
    MonitorCapture monitor;
    EXPECT_EQ(APMAcceptMeasurementConfig(configBody("1:999:macos:other").bytes(), kAppID), std::nullopt);
    auto lines = monitor.linesWithCode(23136);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ERROR"), std::string::npos);
    EXPECT_NE(lines[0].find("Configuration does not have valid Vadova App ID."), std::string::npos);
    WireWriter withoutAppID;
    withoutAppID.varint(1, 7);
    EXPECT_EQ(APMAcceptMeasurementConfig(withoutAppID.bytes(), kAppID), std::nullopt);
}

TEST(ConfigAcceptance, ABodyThatDoesNotDecodeIsRefused) {
    MonitorCapture monitor;
    std::vector<std::uint8_t> body = configBody(kAppID).bytes();
    body.resize(body.size() - 3);
    testing::internal::CaptureStdout();  // the runtime's decoding diagnostic
    EXPECT_EQ(APMAcceptMeasurementConfig(body, kAppID), std::nullopt);
    testing::internal::GetCapturedStdout();
    auto lines = monitor.linesWithCode(23135);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Configuration data is invalid."), std::string::npos);
}

TEST(ConfigAcceptance, ExperimentIDsAreWrittenAsSeparateRecords) {
    WireWriter body;
    body.string(2, kAppID).varint(20, 5).varint(20, 6).varint(20, 7);
    auto accepted = APMAcceptMeasurementConfig(body.bytes(), kAppID);
    ASSERT_TRUE(accepted.has_value());
    WireWriter expected;
    expected.string(2, kAppID).varint(20, 5).varint(20, 6).varint(20, 7);
    EXPECT_EQ(accepted->config->protoBuffer()->toVector(), expected.bytes());
}

TEST(ConsentNames, CodesOutsideTheEnumerationsHaveTheEmptyName) {
    EXPECT_EQ(APMConsentTypeString(1), "ad_storage");
    EXPECT_EQ(APMConsentTypeString(4), "ad_personalization");
    EXPECT_EQ(APMConsentTypeString(0), "");
    EXPECT_EQ(APMConsentTypeString(5), "");
    EXPECT_EQ(APMConsentStatusString(2), "denied");
    EXPECT_EQ(APMConsentStatusString(3), "");
}

TEST(ConsentConfigMaps, EntriesApplyInWireOrder) {
    WireWriter config;
    config.message(1, defaultEntry(1, 1)).message(1, defaultEntry(2, 2)).message(1, defaultEntry(1, 2));
    config.message(2, WireWriter().varint(1, 4).varint(2, 1));
    config.message(3, WireWriter().string(1, "s2")).message(3, WireWriter().string(1, "s1"));
    config.message(3, WireWriter().string(2, "no name"));
    config.varint(4, 1);
    config.message(5, defaultEntry(3, 1));
    APMConsentConfigMaps maps = mapsOf(config);
    EXPECT_EQ(maps.defaults, (std::map<std::string, std::string>{{"ad_storage", "denied"},
                                                                 {"analytics_storage", "denied"}}));
    EXPECT_EQ(maps.delegations, (std::map<std::string, std::string>{{"ad_personalization", "ad_storage"}}));
    EXPECT_EQ(maps.corePlatformServices, (std::set<std::string>{"s1", "s2"}));
    EXPECT_TRUE(maps.isDMARegion);
    EXPECT_EQ(maps.regionalDefaults, (std::map<std::string, std::string>{{"ad_user_data", "granted"}}));
}

TEST(ConsentConfigMaps, UnknownCodesMapUnderAndToTheEmptyName) {
    WireWriter config;
    config.message(1, defaultEntry(9, 1)).message(1, defaultEntry(2, 7));
    APMConsentConfigMaps maps = mapsOf(config);
    EXPECT_EQ(maps.defaults, (std::map<std::string, std::string>{{"", "granted"}, {"analytics_storage", ""}}));
    EXPECT_FALSE(maps.isDMARegion);
}
