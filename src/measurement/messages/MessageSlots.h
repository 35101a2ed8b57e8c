#pragma once
// Slot numbers of the fields that the message helpers read and write, one
// namespace per message. A slot is the field's position in its message's
// declaration order; it equals the tag minus one where a message's tags have
// no gaps, except in MeasurementBundle, whose slots keep the bundle's
// historical layout.

namespace MeasurementBundleSlot {
inline constexpr int ProtocolVersion = 0;
inline constexpr int Events = 1;
inline constexpr int UserAttributes = 2;
inline constexpr int UploadTimestamp = 3;
inline constexpr int StartTimestamp = 4;
inline constexpr int EndTimestamp = 5;
inline constexpr int PreviousBundleStartTimestamp = 6;
inline constexpr int PreviousBundleEndTimestamp = 7;
inline constexpr int Platform = 8;
inline constexpr int OSVersion = 9;
inline constexpr int DeviceModel = 10;
inline constexpr int UserDefaultLanguage = 11;
inline constexpr int TimeZoneOffsetMinutes = 12;
inline constexpr int InstallSource = 13;
inline constexpr int AppID = 14;
inline constexpr int AppVersion = 16;
inline constexpr int LibraryVersion = 17;
inline constexpr int UploadLibraryVersion = 18;
inline constexpr int ResettableDeviceID = 19;
inline constexpr int VendorDeviceID = 20;
inline constexpr int LimitedAdTracking = 21;
inline constexpr int AppInstanceID = 22;
inline constexpr int BundleSequenceIndex = 24;
inline constexpr int MonitoringData = 25;
inline constexpr int ConfigAppID = 26;
inline constexpr int AudienceEvaluationResults = 28;
inline constexpr int InstallationID = 29;
inline constexpr int AppVersionMajor = 30;
inline constexpr int AppVersionMinor = 31;
inline constexpr int AppVersionRelease = 32;
inline constexpr int ConfigVersion = 34;
inline constexpr int UploadRetryCount = 35;
inline constexpr int ExperimentIDs = 37;
inline constexpr int Checksum = 38;
inline constexpr int ConsentSignals = 40;
inline constexpr int TrackingAuthorizationStatus = 41;
inline constexpr int SessionStitchingToken = 43;
inline constexpr int RedactedFields = 44;
inline constexpr int EphemeralAppInstanceID = 45;
inline constexpr int ConsentDiagnostics = 47;
inline constexpr int DMARegion = 48;
inline constexpr int CorePlatformServices = 49;
inline constexpr int DeliveryIndex = 51;
inline constexpr int AdCampaignInfo = 52;
inline constexpr int OnDeviceMeasurementInfo = 53;
inline constexpr int LinkageBits = 55;
inline constexpr int DiagnosticSignals = 56;
}  // namespace MeasurementBundleSlot

namespace AdCampaignInfoSlot {
inline constexpr int Vclid = 0;
inline constexpr int Vbraid = 1;
inline constexpr int VadSource = 2;
inline constexpr int CampaignTimestamp = 3;
inline constexpr int DeepLinkVadParams = 8;
inline constexpr int DeepLinkURL = 10;
}  // namespace AdCampaignInfoSlot

namespace DeepLinkVadParamsEntrySlot {
inline constexpr int Key = 0;
inline constexpr int Value = 1;
}  // namespace DeepLinkVadParamsEntrySlot

namespace OnDeviceMeasurementValueSlot {
inline constexpr int SetTimestamp = 0;
inline constexpr int Value = 1;
}  // namespace OnDeviceMeasurementValueSlot

namespace EventSlot {
inline constexpr int Params = 0;
inline constexpr int Name = 1;
inline constexpr int Timestamp = 2;
inline constexpr int PreviousTimestamp = 3;
}  // namespace EventSlot

namespace EventParamSlot {
inline constexpr int Name = 0;
inline constexpr int StringValue = 1;
inline constexpr int IntValue = 2;
inline constexpr int DoubleValue = 4;
inline constexpr int ParamValue = 5;
}  // namespace EventParamSlot

namespace UserAttributeSlot {
inline constexpr int SetTimestamp = 0;
inline constexpr int Name = 1;
inline constexpr int StringValue = 2;
inline constexpr int IntValue = 3;
inline constexpr int DoubleValue = 5;
}  // namespace UserAttributeSlot

namespace ResultDataSlot {
inline constexpr int Status = 0;
inline constexpr int Results = 1;
}  // namespace ResultDataSlot

namespace MeasurementConfigSlot {
inline constexpr int Version = 0;
inline constexpr int AppID = 1;
inline constexpr int Settings = 3;
inline constexpr int EventConfigs = 4;
inline constexpr int Audiences = 5;
inline constexpr int Programs = 8;
inline constexpr int DataControls = 9;
inline constexpr int UploadSubdomain = 10;
inline constexpr int ConsentConfig = 12;
inline constexpr int PsmSetting = 13;
inline constexpr int SvtmSetting = 14;
inline constexpr int ExperimentIDs = 16;
}  // namespace MeasurementConfigSlot

namespace SettingSlot {
inline constexpr int Name = 0;
inline constexpr int Value = 1;
}  // namespace SettingSlot

namespace EventConfigSlot {
inline constexpr int Name = 0;
inline constexpr int Blocklisted = 1;
inline constexpr int CustomConversion = 2;
inline constexpr int SamplingRate = 3;
}  // namespace EventConfigSlot

namespace SvtmSettingSlot {
inline constexpr int UploadURL = 0;
inline constexpr int ServerInfo = 1;
inline constexpr int AlternateUploadURL = 2;
inline constexpr int RolloutPercentage = 3;
}  // namespace SvtmSettingSlot

namespace ExperimentSlot {
inline constexpr int ID = 0;
inline constexpr int Flags = 1;
}  // namespace ExperimentSlot

namespace ConsentConfigSlot {
inline constexpr int Defaults = 0;
inline constexpr int Delegations = 1;
inline constexpr int CorePlatformServices = 2;
inline constexpr int DMARegion = 3;
inline constexpr int EnforcedDefaults = 4;
}  // namespace ConsentConfigSlot

namespace ConsentDefaultEntrySlot {
inline constexpr int Type = 0;
inline constexpr int Status = 1;
}  // namespace ConsentDefaultEntrySlot

namespace ConsentDelegationEntrySlot {
inline constexpr int Type = 0;
inline constexpr int DelegateType = 1;
}  // namespace ConsentDelegationEntrySlot

namespace CorePlatformServiceEntrySlot {
inline constexpr int Name = 0;
}  // namespace CorePlatformServiceEntrySlot

namespace AudienceSlot {
inline constexpr int AudienceID = 0;
inline constexpr int PropertyFilters = 1;
inline constexpr int EventFilters = 2;
}  // namespace AudienceSlot

namespace EventFilterSlot {
inline constexpr int FilterID = 0;
inline constexpr int EventName = 1;
inline constexpr int Filters = 2;
inline constexpr int EventCountFilter = 4;
inline constexpr int Dynamic = 5;
inline constexpr int Sequence = 6;
inline constexpr int SessionScoped = 7;
}  // namespace EventFilterSlot

namespace PropertyFilterSlot {
inline constexpr int FilterID = 0;
inline constexpr int PropertyName = 1;
inline constexpr int Filter = 2;
inline constexpr int Dynamic = 3;
inline constexpr int Sequence = 4;
inline constexpr int SessionScoped = 5;
}  // namespace PropertyFilterSlot

namespace FilterSlot {
inline constexpr int StringFilter = 0;
inline constexpr int NumberFilter = 1;
inline constexpr int Complement = 2;
inline constexpr int ParamName = 3;
}  // namespace FilterSlot

namespace NumberFilterSlot {
inline constexpr int ComparisonType = 0;
inline constexpr int MatchAsFloat = 1;
inline constexpr int ComparisonValue = 2;
inline constexpr int MinComparisonValue = 3;
inline constexpr int MaxComparisonValue = 4;
}  // namespace NumberFilterSlot

namespace StringFilterSlot {
inline constexpr int MatchType = 0;
inline constexpr int Expression = 1;
inline constexpr int CaseSensitive = 2;
inline constexpr int ExpressionList = 3;
}  // namespace StringFilterSlot

namespace ExperimentRequestSlot {
inline constexpr int AppProperty = 0;
inline constexpr int ClientProperties = 1;
}  // namespace ExperimentRequestSlot

namespace AppPropertySlot {
inline constexpr int Platform = 0;
inline constexpr int Language = 3;
inline constexpr int BundleID = 4;
inline constexpr int FromAppStore = 5;
inline constexpr int ClientVersion = 6;
}  // namespace AppPropertySlot

namespace ClientPropertySlot {
inline constexpr int SDKName = 0;
inline constexpr int DiversionID = 1;
inline constexpr int SDKVersion = 2;
inline constexpr int AppID = 3;
inline constexpr int CustomProperties = 4;
}  // namespace ClientPropertySlot

namespace CustomPropertySlot {
inline constexpr int Key = 0;
inline constexpr int Value = 1;
}  // namespace CustomPropertySlot

namespace ExperimentResponseSlot {
inline constexpr int Snapshots = 0;
inline constexpr int SdkResponses = 1;
}  // namespace ExperimentResponseSlot

namespace SdkResponseSlot {
inline constexpr int SDKName = 0;
inline constexpr int Status = 1;
inline constexpr int Snapshot = 2;
}  // namespace SdkResponseSlot

namespace SnapshotSlot {
inline constexpr int SDKName = 0;
inline constexpr int Experiments = 1;
}  // namespace SnapshotSlot
