// The slot numbers the helpers use name the schema's fields.
#include <gtest/gtest.h>

#include <string>

#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/MessageTypes.h"

namespace {

using measurement::messages::MessageType;

std::string fieldAt(const MessageType& type, int slot) {
    return type.hasSlot(slot) ? type.slots[slot].name : "<no slot>";
}

}  // namespace

TEST(MessageSlots, BundleSlotsFollowTheHistoricalLayout) {
    using namespace measurement::messages;
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::PreviousBundleStartTimestamp),
              "previous_bundle_start_timestamp_millis");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::VendorDeviceID), "vendor_device_id");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::LimitedAdTracking), "limited_ad_tracking");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::ConfigAppID), "config_app_id");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::AudienceEvaluationResults),
              "audience_evaluation_results");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::ConfigVersion), "config_version");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::UploadRetryCount), "upload_retry_count");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::Checksum), "checksum");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::ConsentSignals), "consent_signals");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::SessionStitchingToken), "session_stitching_token");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::CorePlatformServices), "core_platform_services");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::AdCampaignInfo), "ad_campaign_info");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::OnDeviceMeasurementInfo),
              "on_device_measurement_info");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::LinkageBits), "linkage_bits");
    EXPECT_EQ(fieldAt(kMeasurementBundle, MeasurementBundleSlot::DiagnosticSignals), "diagnostic_signals");
}

TEST(MessageSlots, ConfigurationSlotsNameTheirFields) {
    using namespace measurement::messages;
    const struct {
        const MessageType& type;
        int slot;
        const char* field;
    } cases[] = {
        {kMeasurementConfig, MeasurementConfigSlot::Version, "version"},
        {kMeasurementConfig, MeasurementConfigSlot::AppID, "app_id"},
        {kMeasurementConfig, MeasurementConfigSlot::Settings, "settings"},
        {kMeasurementConfig, MeasurementConfigSlot::EventConfigs, "event_config"},
        {kMeasurementConfig, MeasurementConfigSlot::Audiences, "audiences"},
        {kMeasurementConfig, MeasurementConfigSlot::Programs, "dynamic_event_editing"},
        {kMeasurementConfig, MeasurementConfigSlot::DataControls, "data_controls"},
        {kMeasurementConfig, MeasurementConfigSlot::UploadSubdomain, "upload_subdomain"},
        {kMeasurementConfig, MeasurementConfigSlot::ConsentConfig, "consent_config"},
        {kMeasurementConfig, MeasurementConfigSlot::PsmSetting, "psm_setting"},
        {kMeasurementConfig, MeasurementConfigSlot::SvtmSetting, "svtm_setting"},
        {kMeasurementConfig, MeasurementConfigSlot::ExperimentIDs, "experiment_ids"},
        {kSetting, SettingSlot::Value, "value"},
        {kEventConfig, EventConfigSlot::SamplingRate, "sampling_rate"},
        {kSvtmSetting, SvtmSettingSlot::RolloutPercentage, "rollout_percentage"},
        {kExperiment, ExperimentSlot::Flags, "flags"},
    };
    for (const auto& test : cases) EXPECT_EQ(fieldAt(test.type, test.slot), test.field);
}

TEST(MessageSlots, OtherMessagesUseTagMinusOne) {
    using namespace measurement::messages;
    EXPECT_EQ(fieldAt(kEventParam, EventParamSlot::DoubleValue), "double_value");
    EXPECT_EQ(fieldAt(kEventParam, EventParamSlot::ParamValue), "param_value");
    EXPECT_EQ(fieldAt(kUserAttribute, UserAttributeSlot::DoubleValue), "double_value");
    EXPECT_EQ(fieldAt(kAdCampaignInfo, AdCampaignInfoSlot::DeepLinkURL), "deep_link_url");
    EXPECT_EQ(fieldAt(kEventFilter, EventFilterSlot::SessionScoped), "session_scoped");
    EXPECT_EQ(fieldAt(kPropertyFilter, PropertyFilterSlot::SessionScoped), "session_scoped");
    EXPECT_EQ(fieldAt(kMeasurementConfig, MeasurementConfigSlot::Audiences), "audiences");
    EXPECT_EQ(fieldAt(kConsentConfig, ConsentConfigSlot::EnforcedDefaults), "enforced_defaults");
    EXPECT_EQ(fieldAt(kAppProperty, AppPropertySlot::ClientVersion), "client_version");
    EXPECT_EQ(fieldAt(kClientProperty, ClientPropertySlot::CustomProperties), "custom_properties");
    EXPECT_EQ(fieldAt(kSdkResponse, SdkResponseSlot::Snapshot), "snapshot");
}
