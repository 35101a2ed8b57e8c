#pragma once
// Reading an experiment response: the new snapshots and the per-SDK errors.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/ExperimentLogger.h"
#include "measurement/storage/APMError.h"

inline constexpr const char* kAPMExperimentErrorDomain = "com.vadova.vaz.measurement.experiment.ErrorDomain";

// The response's own snapshots when it has any; otherwise the snapshot of
// each SdkResponse that carries one, named after that response's SDK when
// its name is not empty. None for no response (820015, level 2).
[[nodiscard]]
std::optional<std::vector<std::shared_ptr<APMPBSnapshot>>> APMExperimentSnapshotsFromResponse(
    const APMPBExperimentResponse* response, ExperimentLogger& logger);

// One error per SDK whose response has a non-zero status and a non-empty
// name: status 1, 2 and 3 give codes -2, -3 and -4, any other -1; a later
// response for an SDK replaces an earlier one. None for no response.
[[nodiscard]]
std::optional<std::map<std::string, APMError>> APMExperimentErrorsFromResponse(
    const APMPBExperimentResponse* response);
