// ExperimentRequest, AppProperty, ClientProperty and ExperimentResponse.
#include <gtest/gtest.h>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/ExperimentRequest.h"
#include "measurement/messages/ExperimentResponse.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"
#include "measurement/messages/WireWriter.h"

namespace {

WireWriter snapshot(const char* sdkName, std::uint64_t experimentID) {
    WireWriter message;
    if (sdkName != nullptr) message.string(1, sdkName);
    message.message(2, WireWriter().varint(1, experimentID));
    return message;
}

WireWriter sdkResponse(const char* sdkName, std::optional<std::uint64_t> status) {
    WireWriter message;
    if (sdkName != nullptr) message.string(1, sdkName);
    if (status) message.varint(2, *status);
    return message;
}

std::shared_ptr<APMPBExperimentResponse> response(const WireWriter& bytes) {
    auto message = APMPBExperimentResponse::initWithBuffer(bytes.bytes());
    EXPECT_NE(message, nullptr);
    return message;
}

std::vector<std::string> sdkNames(const std::vector<std::shared_ptr<APMPBSnapshot>>& snapshots) {
    std::vector<std::string> names;
    for (const auto& snapshot : snapshots) names.push_back(APMPBGetString(*snapshot, SnapshotSlot::SDKName).value_or("-"));
    return names;
}

APMExperimentSDKInfo measurementSDK() {
    APMExperimentSDKInfo sdk;
    sdk.name = "app_measurement";
    sdk.version = 121800;
    sdk.appID = "1:1:macos:a";
    return sdk;
}

std::vector<std::pair<std::string, std::string>> customProperties(const APMPBClientProperty& property) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& entry : APMPBGetMessages<APMPBCustomProperty>(property, ClientPropertySlot::CustomProperties)) {
        entries.emplace_back(*APMPBGetString(*entry, CustomPropertySlot::Key),
                             *APMPBGetString(*entry, CustomPropertySlot::Value));
    }
    return entries;
}

}  // namespace

TEST(ExperimentResponseSnapshots, OwnSnapshotsWinButSdkResponsesStillGiveErrors) {
    RecordingLogger logger;
    WireWriter bytes;
    bytes.message(1, snapshot("a", 1)).message(2, std::move(sdkResponse("b", 2).message(3, snapshot("b", 2))));
    auto message = response(bytes);
    auto snapshots = APMExperimentSnapshotsFromResponse(message.get(), logger);
    ASSERT_TRUE(snapshots.has_value());
    EXPECT_EQ(sdkNames(*snapshots), std::vector<std::string>{"a"});
    auto errors = APMExperimentErrorsFromResponse(message.get());
    ASSERT_TRUE(errors.has_value());
    EXPECT_EQ(errors->size(), 1u);
    EXPECT_EQ(errors->at("b").code, -3);
}

TEST(ExperimentResponseSnapshots, SdkResponseSnapshotsTakeTheResponsesName) {
    RecordingLogger logger;
    WireWriter bytes;
    bytes.message(2, std::move(sdkResponse("app_measurement", std::nullopt).message(3, snapshot("other", 1))));
    bytes.message(2, std::move(sdkResponse("", std::nullopt).message(3, snapshot("kept", 2))));
    bytes.message(2, sdkResponse("none", 0));
    auto snapshots = APMExperimentSnapshotsFromResponse(response(bytes).get(), logger);
    ASSERT_TRUE(snapshots.has_value());
    EXPECT_EQ(sdkNames(*snapshots), (std::vector<std::string>{"app_measurement", "kept"}));
    EXPECT_EQ(APMPBGetMessages<APMPBExperiment>(*(*snapshots)[0], SnapshotSlot::Experiments).size(), 1u);
}

TEST(ExperimentResponseSnapshots, NoResponseGivesNothingAndIsLogged) {
    RecordingLogger logger;
    EXPECT_EQ(APMExperimentSnapshotsFromResponse(nullptr, logger), std::nullopt);
    EXPECT_EQ(APMExperimentErrorsFromResponse(nullptr), std::nullopt);
    EXPECT_EQ(logger.lines, (std::vector<LoggedLine>{
                                {2, 820015, "Cannot create experiment snapshots from nil response", std::nullopt}}));
}

TEST(ExperimentResponseErrors, StatusCodesAndNamesDecide) {
    WireWriter bytes;
    bytes.message(2, sdkResponse("app_measurement", 2)).message(2, sdkResponse("", 2));
    bytes.message(2, sdkResponse("one", 1)).message(2, sdkResponse("three", 3)).message(2, sdkResponse("odd", 9));
    bytes.message(2, sdkResponse("fine", 0)).message(2, sdkResponse("one", 3));
    auto errors = APMExperimentErrorsFromResponse(response(bytes).get());
    ASSERT_TRUE(errors.has_value());
    std::map<std::string, long> codes;
    for (const auto& [name, error] : *errors) {
        EXPECT_EQ(error.domain, "com.vadova.vaz.measurement.experiment.ErrorDomain");
        codes[name] = error.code;
    }
    EXPECT_EQ(codes, (std::map<std::string, long>{{"app_measurement", -3}, {"one", -4}, {"three", -4}, {"odd", -1}}));
}

TEST(ExperimentClientVersion, DropsTheLastThreeCharacters) {
    EXPECT_EQ(APMExperimentClientVersion(kAPMExperimentClientVersionText), 10000);
    EXPECT_EQ(APMExperimentClientVersion("1234"), 1);
    EXPECT_EQ(APMExperimentClientVersion("123"), 0);
    EXPECT_EQ(APMExperimentClientVersion("abcdef"), 0);
}

TEST(ExperimentAppProperty, DescribesTheApplication) {
    auto property = APMPBAppPropertyFromInfo({{"en-GB", "fr"}, "com.example.app", true, 10000});
    EXPECT_EQ(APMPBGetString(*property, AppPropertySlot::Platform), "macos");
    EXPECT_EQ(APMPBGetString(*property, AppPropertySlot::Language), "en-gb");
    EXPECT_EQ(APMPBGetString(*property, AppPropertySlot::BundleID), "com.example.app");
    EXPECT_TRUE(APMPBGetBool(*property, AppPropertySlot::FromAppStore));
    EXPECT_EQ(APMPBGetInt64(*property, AppPropertySlot::ClientVersion), 10000);
    EXPECT_FALSE(APMPBHasField(*APMPBAppPropertyFromInfo({}), AppPropertySlot::Language));
}

TEST(ExperimentClientProperty, UsesTheInstallsDiversionKeyWhenTheSDKHasNone) {
    RecordingLogger logger;
    auto property = APMPBClientPropertyFromSDKInfo(measurementSDK(), "abcde", logger);
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(APMPBGetString(*property, ClientPropertySlot::DiversionID), "abcde-app_measurement");
    EXPECT_EQ(APMPBGetString(*property, ClientPropertySlot::SDKName), "app_measurement");
    EXPECT_EQ(APMPBGetString(*property, ClientPropertySlot::AppID), "1:1:macos:a");
    EXPECT_EQ(APMPBGetInt64(*property, ClientPropertySlot::SDKVersion), 121800);
    EXPECT_TRUE(customProperties(*property).empty());
    APMExperimentSDKInfo own = measurementSDK();
    own.diversionKey = "xyz";
    EXPECT_EQ(APMPBGetString(*APMPBClientPropertyFromSDKInfo(own, "abcde", logger), ClientPropertySlot::DiversionID),
              "xyz-app_measurement");
    EXPECT_TRUE(logger.lines.empty());
}

TEST(ExperimentClientProperty, WithoutAnyDiversionKeyTheSDKIsLeftOut) {
    RecordingLogger logger;
    EXPECT_EQ(APMPBClientPropertyFromSDKInfo(measurementSDK(), "", logger), nullptr);
    EXPECT_EQ(logger.lines, (std::vector<LoggedLine>{{1, 860001, "Diversion key is empty", std::nullopt}}));
    auto request = APMPBExperimentRequestWith(*APMPBAppPropertyFromInfo({}), {nullptr});
    EXPECT_EQ(APMPBGetMessages<APMPBClientProperty>(*request, ExperimentRequestSlot::ClientProperties).size(), 0u);
    EXPECT_NE(APMPBGetMessage<APMPBAppProperty>(*request, ExperimentRequestSlot::AppProperty), nullptr);
}

TEST(ExperimentClientProperty, DynamicCustomPropertiesWinOverTheSDKsOwn) {
    RecordingLogger logger;
    APMExperimentSDKInfo sdk = measurementSDK();
    sdk.diversionKey = "k";
    sdk.customProperties = {{"a", "1"}, {"b", "2"}};
    sdk.dynamicCustomProperties = {{"b", "20"}, {"c", "30"}};
    auto property = APMPBClientPropertyFromSDKInfo(sdk, "", logger);
    EXPECT_EQ(customProperties(*property),
              (std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", "20"}, {"c", "30"}}));
    auto request = throughWire(*APMPBExperimentRequestWith(*APMPBAppPropertyFromInfo({}), {property}));
    EXPECT_EQ(APMPBGetMessages<APMPBClientProperty>(*request, ExperimentRequestSlot::ClientProperties).size(), 1u);
}
