#pragma once
// The state of the engine's set-membership queries: one APMPSMContext for the
// first-open and re-engagement queries, one APMGroupContext for the daily
// group-ID query. Plain objects owned by the engine and touched only on its
// worker queue.

#include <cstdint>
#include <memory>

#include "measurement/engine/APMOnDeviceConversion.h"
#include "measurement/storage/APMAlarm.h"

struct APMPSMContext {
    // The client of the query under way; kept while it waits for a retry
    // and after the retry limit, none when idle.
    std::shared_ptr<APMPSMClient> PSMClient;
    bool isPSMRequestInProgress = false;
    // The request waits for the next upload completion.
    bool isPSMRequestPostponed = false;
    std::int32_t PSMStartCount = 0;   // initiations in this run
    std::int32_t PSMRetryCount = 0;   // failed attempts of the current query
    std::shared_ptr<APMAlarm> PSMRetryAlarm;  // made on first use
    // 0 for the first-open query; the session start (seconds since 1970)
    // for the re-engagement query.
    double sessionStartTimestamp = 0;
    std::shared_ptr<APMPSMNetwork> network;  // made on first request
};

struct APMGroupContext {
    std::shared_ptr<APMPSMGroupClient> ODCGroupClient;
    bool isPSMRequestInProgress = false;
    std::shared_ptr<APMPSMNetwork> network;  // made on first use
};
