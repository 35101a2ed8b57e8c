#include "measurement/messages/ExperimentResponse.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"

namespace {

long errorCodeForStatus(std::int32_t status) {
    switch (status) {
        case 1: return -2;
        case 2: return -3;
        case 3: return -4;
        default: return -1;
    }
}

}  // namespace

std::optional<std::vector<std::shared_ptr<APMPBSnapshot>>> APMExperimentSnapshotsFromResponse(
    const APMPBExperimentResponse* response, ExperimentLogger& logger) {
    if (response == nullptr) {
        logger.logWithLevel(2, 820015, "Cannot create experiment snapshots from nil response", std::nullopt);
        return std::nullopt;
    }
    std::vector<std::shared_ptr<APMPBSnapshot>> snapshots =
        APMPBGetMessages<APMPBSnapshot>(*response, ExperimentResponseSlot::Snapshots);
    if (!snapshots.empty()) {
        return snapshots;
    }
    for (const auto& sdkResponse : APMPBGetMessages<APMPBSdkResponse>(*response, ExperimentResponseSlot::SdkResponses)) {
        auto snapshot = APMPBGetMessage<APMPBSnapshot>(*sdkResponse, SdkResponseSlot::Snapshot);
        if (snapshot == nullptr) {
            continue;
        }
        std::optional<std::string> sdkName = APMPBGetString(*sdkResponse, SdkResponseSlot::SDKName);
        if (sdkName && !sdkName->empty()) {
            APMPBSetString(*snapshot, SnapshotSlot::SDKName, *sdkName);
        }
        snapshots.push_back(std::move(snapshot));
    }
    return snapshots;
}

std::optional<std::map<std::string, APMError>> APMExperimentErrorsFromResponse(
    const APMPBExperimentResponse* response) {
    if (response == nullptr) {
        return std::nullopt;
    }
    std::map<std::string, APMError> errors;
    for (const auto& sdkResponse : APMPBGetMessages<APMPBSdkResponse>(*response, ExperimentResponseSlot::SdkResponses)) {
        const std::int32_t status = APMPBGetInt32(*sdkResponse, SdkResponseSlot::Status);
        std::optional<std::string> sdkName = APMPBGetString(*sdkResponse, SdkResponseSlot::SDKName);
        if (status == 0 || !sdkName || sdkName->empty()) {
            continue;
        }
        errors[*sdkName] = APMError{kAPMExperimentErrorDomain, errorCodeForStatus(status), ""};
    }
    return errors;
}
