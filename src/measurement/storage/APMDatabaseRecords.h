#pragma once
// Rows of the measurement database as its callers see them. Encoded wire
// messages (events, bundles, filters) travel as bytes: the layers above
// storage decode them.

#include <cstdint>
#include <optional>
#include <string>

#include "measurement/storage/APMBytes.h"
#include "measurement/storage/APMValue.h"

// One raw_events row: the encoded Event message and what is kept beside it.
struct APMRawEventRecord {
    std::int64_t rowID = 0;
    std::string name;
    double timestamp = 0;  // seconds since 1970
    std::int64_t metadataFingerprint = 0;
    APMBytes data;         // the encoded Event message
    bool isRealtime = false;

    bool operator==(const APMRawEventRecord&) const = default;
};

// One queued bundle: the encoded MeasurementBundle (its stored retry count,
// when above 0, already in field 39) and its row in the upload queue.
struct APMQueuedBundle {
    APMBytes bundle;
    std::int64_t rowID = 0;
};

// One pending diagnostics signal.
struct APMDiagnosticsSignal {
    std::string signalName;
    std::string metadata;
    std::int64_t count = 0;

    bool operator==(const APMDiagnosticsSignal&) const = default;
};

// One odm_values row.
struct APMODMValue {
    std::string value;
    double setTimestamp = 0;  // seconds since 1970

    bool operator==(const APMODMValue&) const = default;
};

// One conditional_properties row; the three events are encoded Event messages.
struct APMConditionalUserPropertyRecord {
    std::string name;
    std::string origin;
    std::optional<APMValue> value;
    double creationTimestamp = 0;
    bool active = false;
    double triggerTimeout = 0;
    double triggeredTimestamp = 0;
    double timeToLive = 0;
    std::optional<std::string> triggerEventName;
    std::optional<APMBytes> timedOutEvent;
    std::optional<APMBytes> triggeredEvent;
    std::optional<APMBytes> expiredEvent;

    bool operator==(const APMConditionalUserPropertyRecord&) const = default;
};

// Limits of the remote configuration that bound the stored data.
struct APMStorageLimits {
    std::int64_t maxEventsStored = 100000;         // "measurement.store.max_stored_events_per_app"
    double maxQueueTime = 2419200;                 // seconds, "measurement.upload.max_queue_time"
    double staleDataDeletionInterval = 86400;      // seconds, "measurement.upload.stale_data_deletion_interval"
};
