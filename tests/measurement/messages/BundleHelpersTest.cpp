// MeasurementBundle: on-device measurement values, linkage bits and the
// checksum.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/BundleChecksum.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/OnDeviceMeasurementInfo.h"
#include "measurement/messages/SemanticsTestSupport.h"
#include "measurement/storage/APMDigest.h"

namespace {

// A store of on-device values: names without an entry hold nothing.
struct FakeODMStore {
    std::map<std::string, APMResult<APMODMStoredValue>> rows;
    std::vector<std::string> reads;

    APMODMValueReader reader() {
        return [this](const std::string& name) {
            reads.push_back(name);
            auto found = rows.find(name);
            return found == rows.end() ? APMResult<APMODMStoredValue>::none() : found->second;
        };
    }
};

APMResult<APMODMStoredValue> stored(std::optional<double> time, std::optional<std::string> value) {
    return APMResult<APMODMStoredValue>::success({time, std::move(value)});
}

std::shared_ptr<APMPBOnDeviceMeasurementInfo> infoOf(const APMPBMeasurementBundle& bundle) {
    return APMPBGetMessage<APMPBOnDeviceMeasurementInfo>(bundle, MeasurementBundleSlot::OnDeviceMeasurementInfo);
}

std::shared_ptr<APMPBMeasurementBundle> sampleBundle() {
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMPBSetInt32(*bundle, MeasurementBundleSlot::ProtocolVersion, 1);
    APMPBSetString(*bundle, MeasurementBundleSlot::Platform, "macos");
    APMPBSetString(*bundle, MeasurementBundleSlot::AppID, "1:123:macos:abc");
    APMPBSetInt64(*bundle, MeasurementBundleSlot::EndTimestamp, 5000);
    return bundle;
}

}  // namespace

TEST(OnDeviceMeasurementInfo, OnlyValuesWithTimeAndTextAreWritten) {
    EXPECT_EQ(APMPBOnDeviceMeasurementValueFromRecord({1.0, std::nullopt}), nullptr);
    EXPECT_EQ(APMPBOnDeviceMeasurementValueFromRecord({std::nullopt, "v"}), nullptr);
    auto value = APMPBOnDeviceMeasurementValueFromRecord({12.3456, "v"});
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(APMPBGetInt64(*value, OnDeviceMeasurementValueSlot::SetTimestamp), 12345);
    EXPECT_EQ(APMPBGetString(*value, OnDeviceMeasurementValueSlot::Value), "v");
}

TEST(OnDeviceMeasurementInfo, ABundleWithoutCompleteValuesGetsNoInfo) {
    FakeODMStore store;
    store.rows["odm1_value"] = stored(1.0, std::nullopt);
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMSetOnDeviceMeasurementInfo(*bundle, store.reader(), true);
    EXPECT_FALSE(APMPBHasField(*bundle, MeasurementBundleSlot::OnDeviceMeasurementInfo));
}

TEST(OnDeviceMeasurementInfo, EachStoredValueGoesToItsOwnField) {
    FakeODMStore store;
    const char* names[] = {"odm1_value", "odm1_session_value", "odm2_value", "odm1_group_id",
                           "odm2_value_cohort", "odm2_group_id", "odf_app_installation_id", "odf_matching_id"};
    const int slots[] = {0, 1, 2, 4, 5, 6, 7, 8};
    for (const char* name : names) store.rows[name] = stored(2.0, std::string(name));
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMSetOnDeviceMeasurementInfo(*bundle, store.reader(), true);
    auto info = infoOf(*throughWire(*bundle));
    ASSERT_NE(info, nullptr);
    for (std::size_t index = 0; index < std::size(names); ++index) {
        auto value = APMPBGetMessage<APMPBOnDeviceMeasurementValue>(*info, slots[index]);
        ASSERT_NE(value, nullptr) << names[index];
        EXPECT_EQ(APMPBGetString(*value, OnDeviceMeasurementValueSlot::Value), names[index]);
        EXPECT_EQ(APMPBGetInt64(*value, OnDeviceMeasurementValueSlot::SetTimestamp), 2000);
    }
    EXPECT_FALSE(APMPBHasField(*info, 3));
    EXPECT_EQ(store.reads, (std::vector<std::string>{"odm1_value", "odm1_session_value", "odm2_value_cohort",
                                                      "odm2_value", "odm1_group_id", "odm2_group_id",
                                                      "odf_app_installation_id", "odf_matching_id"}));
}

TEST(OnDeviceMeasurementInfo, TheCohortValueIsReadOnlyWhenAskedFor) {
    FakeODMStore store;
    store.rows["odm2_value_cohort"] = stored(1.0, "c");
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMSetOnDeviceMeasurementInfo(*bundle, store.reader(), false);
    EXPECT_FALSE(APMPBHasField(*bundle, MeasurementBundleSlot::OnDeviceMeasurementInfo));
    EXPECT_EQ(std::count(store.reads.begin(), store.reads.end(), "odm2_value_cohort"), 0);
}

TEST(OnDeviceMeasurementInfo, AFailedReadIsLoggedAndTheOthersStillCount) {
    MonitorCapture monitor;
    FakeODMStore store;
    store.rows["odm1_value"] = APMResult<APMODMStoredValue>::failure(APMError::withCode(5, "disk I/O error"));
    store.rows["odf_matching_id"] = APMResult<APMODMStoredValue>::failure(APMError::withCode(5, "locked"));
    store.rows["odm1_group_id"] = stored(3.0, "g");
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMSetOnDeviceMeasurementInfo(*bundle, store.reader(), true);
    auto info = infoOf(*bundle);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(APMPBHasField(*info, 4));
    EXPECT_FALSE(APMPBHasField(*info, 0));
    auto odm1 = monitor.linesWithCode(23287);
    ASSERT_EQ(odm1.size(), 1u);
    EXPECT_NE(odm1[0].find("WARNING"), std::string::npos);
    EXPECT_NE(odm1[0].find("Failed to query ODM value. Error"), std::string::npos);
    EXPECT_NE(odm1[0].find("disk I/O error"), std::string::npos);
    auto matching = monitor.linesWithCode(23326);
    ASSERT_EQ(matching.size(), 1u);
    EXPECT_NE(matching[0].find("ERROR"), std::string::npos);
}

TEST(OnDeviceMeasurementInfo, ABadStoredTimeSaturatesInsteadOfOverflowing) {
    FakeODMStore store;
    store.rows["odm1_value"] = stored(1e30, "v");
    store.rows["odm2_value"] = stored(std::nan(""), "w");
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMSetOnDeviceMeasurementInfo(*bundle, store.reader(), true);
    auto info = infoOf(*bundle);
    auto huge = APMPBGetMessage<APMPBOnDeviceMeasurementValue>(*info, 0);
    EXPECT_EQ(APMPBGetInt64(*huge, OnDeviceMeasurementValueSlot::SetTimestamp),
              std::numeric_limits<std::int64_t>::max());
    auto notANumber = APMPBGetMessage<APMPBOnDeviceMeasurementValue>(*info, 2);
    EXPECT_EQ(APMPBGetInt64(*notANumber, OnDeviceMeasurementValueSlot::SetTimestamp), 0);
}

TEST(LinkageBits, EachLinkHasItsOwnBit) {
    EXPECT_EQ(APMLinkageBits({}), 0);
    EXPECT_EQ(APMLinkageBits({.hasAppDataConsentStatus = true}), 1);
    EXPECT_EQ(APMLinkageBits({.privateSetMembershipClientLinked = true}), 2);
    EXPECT_EQ(APMLinkageBits({.alphaAdsOnDeviceConversionLinked = true}), 4);
    EXPECT_EQ(APMLinkageBits({.vadovaAdsOnDeviceConversionLinked = true}), 8);
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMSetLinkageBits(*bundle, {true, false, true, true});
    EXPECT_EQ(APMPBGetInt32(*throughWire(*bundle), MeasurementBundleSlot::LinkageBits), 13);
}

TEST(BundleChecksum, IsTheDigestOfTheBundleWithoutItsChecksum) {
    auto bundle = sampleBundle();
    auto bytes = bundle->protoBuffer();
    ASSERT_TRUE(APMSetBundleChecksum(*bundle));
    EXPECT_EQ(APMPBGetInt64(*bundle, MeasurementBundleSlot::Checksum), APM64LSBMD5(bytes->bytes(), bytes->length()));
}

TEST(BundleChecksum, ChangesWithAnyOtherField) {
    auto bundle = sampleBundle();
    ASSERT_TRUE(APMSetBundleChecksum(*bundle));
    const std::int64_t before = APMPBGetInt64(*bundle, MeasurementBundleSlot::Checksum);
    APMPBSetInt64(*bundle, MeasurementBundleSlot::UploadTimestamp, 1);
    ASSERT_TRUE(APMSetBundleChecksum(*bundle));
    EXPECT_NE(APMPBGetInt64(*bundle, MeasurementBundleSlot::Checksum), before);
}

TEST(BundleChecksum, IsStableAcrossARoundTripAndARecomputation) {
    auto bundle = sampleBundle();
    ASSERT_TRUE(APMSetBundleChecksum(*bundle));
    const std::int64_t first = APMPBGetInt64(*bundle, MeasurementBundleSlot::Checksum);
    auto decoded = throughWire(*bundle);
    ASSERT_TRUE(APMSetBundleChecksum(*decoded));
    EXPECT_EQ(APMPBGetInt64(*decoded, MeasurementBundleSlot::Checksum), first);
}
