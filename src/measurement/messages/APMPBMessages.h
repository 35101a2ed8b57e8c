#pragma once
// The wrapper classes, one per message that the system handles as an object.
// ConsentInfoExtra, LimitedDataEntry, MarketReferrerVadParamsEntry and Region
// have none: they exist only inside their parent messages.

#include "measurement/messages/MessageTypes.h"
#include "measurement/messages/NANOMessageBase.h"

using APMPBAdCampaignInfo = APMPBMessage<measurement::messages::kAdCampaignInfo>;
using APMPBAppProperty = APMPBMessage<measurement::messages::kAppProperty>;
using APMPBAudience = APMPBMessage<measurement::messages::kAudience>;
using APMPBAudienceLeafFilterResult = APMPBMessage<measurement::messages::kAudienceLeafFilterResult>;
using APMPBClientProperty = APMPBMessage<measurement::messages::kClientProperty>;
using APMPBConsentConfig = APMPBMessage<measurement::messages::kConsentConfig>;
using APMPBConsentDefaultEntry = APMPBMessage<measurement::messages::kConsentDefaultEntry>;
using APMPBConsentDelegationEntry = APMPBMessage<measurement::messages::kConsentDelegationEntry>;
using APMPBCorePlatformServiceEntry = APMPBMessage<measurement::messages::kCorePlatformServiceEntry>;
using APMPBCustomProperty = APMPBMessage<measurement::messages::kCustomProperty>;
using APMPBDataControl = APMPBMessage<measurement::messages::kDataControl>;
using APMPBDeepLinkVadParamsEntry = APMPBMessage<measurement::messages::kDeepLinkVadParamsEntry>;
using APMPBDiagnosticSignal = APMPBMessage<measurement::messages::kDiagnosticSignal>;
using APMPBDynamicFilterResultTimestamp = APMPBMessage<measurement::messages::kDynamicFilterResultTimestamp>;
using APMPBEvent = APMPBMessage<measurement::messages::kEvent>;
using APMPBEventConfig = APMPBMessage<measurement::messages::kEventConfig>;
using APMPBEventFilter = APMPBMessage<measurement::messages::kEventFilter>;
using APMPBEventParam = APMPBMessage<measurement::messages::kEventParam>;
using APMPBExperiment = APMPBMessage<measurement::messages::kExperiment>;
using APMPBExperimentRequest = APMPBMessage<measurement::messages::kExperimentRequest>;
using APMPBExperimentResponse = APMPBMessage<measurement::messages::kExperimentResponse>;
using APMPBFilter = APMPBMessage<measurement::messages::kFilter>;
using APMPBFlag = APMPBMessage<measurement::messages::kFlag>;
using APMPBMeasurementBatch = APMPBMessage<measurement::messages::kMeasurementBatch>;
using APMPBMeasurementBundle = APMPBMessage<measurement::messages::kMeasurementBundle>;
using APMPBMeasurementConfig = APMPBMessage<measurement::messages::kMeasurementConfig>;
using APMPBNumberFilter = APMPBMessage<measurement::messages::kNumberFilter>;
using APMPBOgtActivities = APMPBMessage<measurement::messages::kOgtActivities>;
using APMPBOgtActivity = APMPBMessage<measurement::messages::kOgtActivity>;
using APMPBOnDeviceMeasurementInfo = APMPBMessage<measurement::messages::kOnDeviceMeasurementInfo>;
using APMPBOnDeviceMeasurementValue = APMPBMessage<measurement::messages::kOnDeviceMeasurementValue>;
using APMPBProgram = APMPBMessage<measurement::messages::kProgram>;
using APMPBPropertyFilter = APMPBMessage<measurement::messages::kPropertyFilter>;
using APMPBPsmSetting = APMPBMessage<measurement::messages::kPsmSetting>;
using APMPBResultData = APMPBMessage<measurement::messages::kResultData>;
using APMPBRuntimeEntity = APMPBMessage<measurement::messages::kRuntimeEntity>;
using APMPBSdkResponse = APMPBMessage<measurement::messages::kSdkResponse>;
using APMPBSequenceFilterResultTimestamp = APMPBMessage<measurement::messages::kSequenceFilterResultTimestamp>;
using APMPBSetting = APMPBMessage<measurement::messages::kSetting>;
using APMPBSvtmSetting = APMPBMessage<measurement::messages::kSvtmSetting>;
using APMPBSnapshot = APMPBMessage<measurement::messages::kSnapshot>;
using APMPBStringFilter = APMPBMessage<measurement::messages::kStringFilter>;
using APMPBUserAttribute = APMPBMessage<measurement::messages::kUserAttribute>;
