// Bundling: the oldest raw events of one metadata fingerprint become one
// upload bundle in one exclusive transaction (read, reject, count, sample,
// complete the bundle's fields, queue it, delete the raw events).
//
// Rows that can never be bundled are not left to block the rows behind
// them: an event that does not decode ("undecodable_event"), or a
// fingerprint whose metadata is missing ("missing_metadata") or does not
// decode ("undecodable_metadata"), is deleted, logged and counted as the
// diagnostics signal "raw_event_dropped_count" with the reason in brackets
// as metadata; a bundle the queue refuses for faulty stored data
// ("bundle_refused") is dropped the same way after the bundling transaction
// was rolled back. A bundle refused for its size alone is built again from
// fewer events. Any other refusal, a failed compression and database errors
// (busy, I/O, full) roll back and leave everything for the next run. Without
// an app ID nothing is bundled: the events wait.

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/EventConversion.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/messages/ScalarValueSlots.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMSaturatingConversion.h"
#include "measurement/storage/APMScheduler.h"

namespace {

enum BundleTag : int {
    kEvents = 2,
    kUserAttributes = 3,
    kEndTimestamp = 6,
    kBundleIndex = 23,
    kSessionStitchingToken = 63,
    kAdCampaignInfo = 79,
    kOnDeviceMeasurementInfo = 84,
    kDiagnosticSignals = 89,
};

int slot(int tag) { return APMBundleSlotForTag(tag); }

// Event field 6: the engagement time of a first open.
constexpr int kEventEngagementTimeSlot = 5;
// DiagnosticSignal fields 1, 3 and 4.
constexpr int kSignalNameSlot = 0;
constexpr int kSignalMetadataSlot = 2;
constexpr int kSignalCountSlot = 3;

constexpr std::int64_t kMaxRawEventsPerRead = 1000;
// The encoded events of one bundle stay within this budget whatever the
// remote size limit says, so that with its metadata, user properties and
// audience results the bundle stays below the queue's cap.
constexpr std::int64_t kBundleEventBytesBudget = static_cast<std::int64_t>(kAPMMaxQueuedBundleBytes / 4 * 3);
constexpr const char* kDroppedRawEventSignal = "raw_event_dropped_count";

constexpr APMPBScalarSlots kParamValueSlots = {{{APMPBScalarKind::String, EventParamSlot::StringValue},
                                                {APMPBScalarKind::Integer, EventParamSlot::IntValue},
                                                {APMPBScalarKind::Double, EventParamSlot::DoubleValue}}};

// Only faults of the stored data make a row poison; anything SQLite reports
// (busy, I/O, a full disk) may pass, so it rolls back and is retried.
bool isDataFault(const APMError& error) { return error.code == kAPMDatabaseErrorInvalidData; }

// Whether the upload queue's refusal of a bundle lets the bundle's raw events
// go. A refusal for what the bundle carries (its size, no app ID, no valid
// end time, a failed compression) keeps them: rows that can still be read
// are never deleted, only data that cannot be decoded.
bool refusalDropsRawEvents(const APMError& error) { return isDataFault(error); }

std::int64_t integerOf(const APMValue& value) {
    return value.isInt64() ? value.int64Value() : apm_saturatingInt64(value.doubleValue());
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b) return std::numeric_limits<std::int64_t>::max();
    if (b < 0 && a < std::numeric_limits<std::int64_t>::min() - b) return std::numeric_limits<std::int64_t>::min();
    return a + b;
}

// The items of an array parameter: each element's own parameters.
std::vector<APMParameters> itemsOfArrayParam(const APMPBArray& elements) {
    std::vector<APMParameters> items;
    for (const APMPBObject& object : elements) {
        const auto* element = std::get_if<std::shared_ptr<NANOMessageBase>>(&object);
        if (!element || !*element) continue;
        APMParameters item;
        for (const auto& param : APMPBGetMessages<APMPBEventParam>(**element, EventParamSlot::ParamValue)) {
            std::optional<std::string> name = param ? APMPBGetString(*param, EventParamSlot::Name) : std::nullopt;
            std::optional<APMValue> value = name ? APMPBGetScalarValue(*param, kParamValueSlots) : std::nullopt;
            if (value) item.set(std::move(*name), std::move(*value));
        }
        items.push_back(std::move(item));
    }
    return items;
}

bool deleteBundledRawEvents(APMDatabase& database, std::int64_t maxRowID, std::int64_t fingerprint) {
    const auto& log = APMMonitor::shared();
    APMError error;
    if (!database.deleteRawEventsWithMaxRowID(maxRowID, &error)) {
        log->log(1, 23119, "Unable to delete raw events. RowID, error", maxRowID, error);
        return false;
    }
    auto remains = database.containsRawEventWithMetadataFingerprint(fingerprint);
    if (!remains.value) {
        log->log(1, 23120, "Unable to query existence of raw event. Metadata, error", fingerprint,
                 remains.error ? APMLogContext(*remains.error) : APMLogContext("(null)"));
        return false;
    }
    if (*remains.value) return true;
    if (!database.deleteRawEventMetadataWithMetadataFingerprint(fingerprint, &error)) {
        log->log(1, 23121, "Unable to delete raw event metadata. Metadata, error", fingerprint, error);
        return false;
    }
    return true;
}

std::vector<std::shared_ptr<APMPBUserAttribute>> userAttributesExcludingPSM(
    const std::vector<std::shared_ptr<APMPBUserAttribute>>& attributes) {
    std::vector<std::shared_ptr<APMPBUserAttribute>> kept;
    for (const auto& attribute : attributes) {
        if (attribute && APMPBGetString(*attribute, UserAttributeSlot::Name).value_or("").starts_with("_psm")) continue;
        kept.push_back(attribute);
    }
    return kept;
}

void addDiagnosticsSignalsToBundle(APMDatabase& database, const APMRemoteConfig& config,
                                   APMPBMeasurementBundle& bundle, bool uploadOnAppResignInProgress, double now) {
    if (!config.diagnosticsEnabled()) return;
    auto metadata = database.queryAppMetadata();
    if (!metadata.value) return;
    if (!uploadOnAppResignInProgress &&
        now - metadata.value->lastDiagnosticsUploadTimestamp < config.diagnosticsUploadInterval()) {
        return;
    }
    auto signals = database.consumeDiagnosticsSignals();
    if (!signals.value || signals.value->empty()) return;
    std::vector<std::shared_ptr<APMPBDiagnosticSignal>> messages;
    for (const APMDiagnosticsSignal& signal : *signals.value) {
        auto message = APMPBDiagnosticSignal::initWithMessageInfo(nullptr);
        if (!message) continue;
        APMPBSetString(*message, kSignalNameSlot, signal.signalName);
        APMPBSetString(*message, kSignalMetadataSlot, signal.metadata);
        APMPBSetInt64(*message, kSignalCountSlot, signal.count);
        messages.push_back(std::move(message));
    }
    APMPBSetArray(bundle, slot(kDiagnosticSignals), APMPBArrayOfMessages(messages));
    metadata.value->lastDiagnosticsUploadTimestamp = now;
    APMError error;
    if (!database.updateAppMetadata(*metadata.value, &error)) {
        APMMonitor::shared()->log(1, 23331, "Failed to update app metadata for diagnostics. Error", error);
    }
}

bool containsRealtimeEvent(const std::vector<APMEvent>& events) {
    return std::any_of(events.begin(), events.end(), [](const APMEvent& event) { return event.isRealtime(); });
}

bool isOnDeviceSourceEvent(const APMEvent& event) {
    if (event.name() != "_fx") return false;
    const APMValue* source = event.parameters().find("_fxs");
    const std::string* text = source ? source->stringValue() : nullptr;
    return text && (text->starts_with("psm") || *text == "muf2");
}

// The wire form; a first open carries its "_elt" as the event's engagement
// time instead of as a parameter.
std::shared_ptr<APMPBEvent> wireEvent(const APMEvent& event) {
    const APMValue* engagement = event.name() == "_f" ? event.parameters().find("_elt") : nullptr;
    if (!engagement) return event.protoEvent();
    APMParameters parameters = event.parameters();
    const std::int64_t engagementTime = integerOf(*engagement);
    parameters.erase("_elt");
    auto message = APMPBEventWithContents(event.name(), event.timestamp(), event.previousTimestamp(), parameters);
    if (message) APMPBSetInt64(*message, kEventEngagementTimeSlot, engagementTime);
    return message;
}

}  // namespace

// MARK: - Reading raw events

std::optional<APMRawEventData> APMMeasurement::rawEventDataFromRecord(const APMRawEventRecord& record,
                                                                      APMError* error) {
    std::optional<APMEvent> event;
    auto proto = APMPBEvent::initWithBuffer(record.data);
    std::optional<APMEventContents> contents = proto ? APMEventContentsFromProto(*proto) : std::nullopt;
    if (contents) {
        // The scalar conversion leaves array parameters out; rebuild the
        // list in wire order with the arrays from their elements.
        APMParameters parameters;
        for (const auto& param : APMPBGetMessages<APMPBEventParam>(*proto, EventSlot::Params)) {
            std::optional<std::string> name = param ? APMPBGetString(*param, EventParamSlot::Name) : std::nullopt;
            if (!name || *name == "_o") continue;
            std::optional<APMPBArray> elements = APMPBGetArray<APMPBEventParam>(*param, EventParamSlot::ParamValue);
            if (elements && !elements->empty()) {
                parameters.set(*name, APMValue(itemsOfArrayParam(*elements)));
            } else if (const APMValue* value = contents->parameters.find(*name)) {
                parameters.set(*name, *value);
            }
        }
        event = APMEvent::initWithOrigin(contents->origin.value_or(""), false, contents->name, contents->timestamp,
                                         contents->previousTimestamp, APMObjectParametersFrom(parameters));
    }
    if (!event) {
        APMSetError(error, kAPMDatabaseErrorInvalidData,
                    "Unable to parse raw event data. Row ID " + std::to_string(record.rowID));
        return std::nullopt;
    }
    return APMRawEventData{std::move(*event), record.rowID, record.metadataFingerprint};
}

std::optional<std::vector<APMRawEventData>> APMMeasurement::rawEventsWithMetadataFingerprint(
    std::int64_t fingerprint, std::optional<std::int64_t>* undecodableRowID, std::int64_t eventLimit) {
    const auto database = this->database();
    if (!database) return std::nullopt;
    const auto config = configuration();
    const std::int64_t maxEvents = std::min(config->uploadMaxEventsPerBundle(), eventLimit);
    const std::int64_t maxSize = std::min(config->uploadMaxSizeLimitBytes(), kBundleEventBytesBudget);
    std::int64_t firstHour = 0;
    std::int64_t lastRowID = 0;
    std::int64_t size = 0;
    std::vector<APMRawEventData> accepted;

    auto read = database->rawEventsWithMetadataFingerprint(
        fingerprint, kMaxRawEventsPerRead, [&](const APMSqliteRow& row, std::size_t n) {
            if (n > 0 && static_cast<std::int64_t>(n) >= maxEvents) return false;
            auto record = APMDatabase::rawEventRecordFromRow(row);
            APMError error = record.error.value_or(APMError{});
            std::optional<APMRawEventData> data =
                record.value ? rawEventDataFromRecord(*record.value, &error) : std::nullopt;
            if (!data) {
                monitor()->log(4, 23096, "Failed to filter raw event. Error", error);
                if (undecodableRowID) *undecodableRowID = row.integer("rowid");
                return false;
            }
            // Hours are counted in 64 bits: a 32-bit second count would
            // wrap in 2038.
            const double seconds = std::floor(data->rawEvent.timestamp());
            const std::int64_t hour = apm_saturatingInt64(seconds) / 3600;
            const auto encodedSize = static_cast<std::int64_t>(record.value->data.size());
            if (n > 0 && (hour != firstHour || data->rowID != lastRowID + 1 || size + encodedSize >= maxSize)) {
                return false;
            }
            if (n == 0) firstHour = hour;
            size += encodedSize;
            lastRowID = data->rowID;
            accepted.push_back(std::move(*data));
            return true;
        });
    if (read.error && accepted.empty()) {
        monitor()->log(1, 23097, "Inconsistent state, raw event is expected. Error", *read.error);
        return std::nullopt;
    }
    return accepted;
}

// MARK: - Rejecting raw events

std::optional<std::vector<APMEvent>> APMMeasurement::processRawEvents(const std::vector<APMRawEventData>& rawEvents,
                                                                      std::int64_t fingerprint) {
    const auto database = this->database();
    if (!database || rawEvents.empty()) return std::nullopt;
    const auto config = configuration();
    const auto& log = monitor();
    const auto& publicToInternal = APMPublicToInternalEventNameMap();

    const auto shouldRejectRawEvent = [&](const APMRawEventData& raw) {
        const std::string& name = raw.rawEvent.name();
        const auto internal = publicToInternal.find(name);
        const bool hasInternal = internal != publicToInternal.end() && !internal->second.empty();
        if (hasInternal && config->blocklistInternal() && !config->blocklistPublic()) return false;
        if (config->isEventBlocklisted(name) || (hasInternal && config->isEventBlocklisted(internal->second))) {
            log->log(4, 23099, "Rejected event. Event name", APMEventDisplayName(name));
            incrementOnWorkerQueueDiagnosticsSignal("event_dropped_count", "blocklisted");
            return true;
        }
        if (!config->redundantEngagementRemovalEnabled() || name != "_e") return false;
        const APMValue* foreground = raw.rawEvent.parameters().find("_fr");
        return foreground && foreground->isInt64() && foreground->int64Value() == 1;
    };

    std::vector<APMRawEventData> remaining;
    for (const APMRawEventData& raw : rawEvents) {
        if (!shouldRejectRawEvent(raw)) remaining.push_back(raw);
    }
    if (remaining.empty()) {
        if (!deleteBundledRawEvents(*database, rawEvents.back().rowID, fingerprint)) return std::nullopt;
        log->log(4, 23100, "Rejected all events.");
        return std::vector<APMEvent>{};
    }

    auto dailyCounts = database->dailyCounts();
    if (!dailyCounts.value) {
        log->log(1, 23101, "Failed to query daily event counts. Error",
                 dailyCounts.error ? APMLogContext(*dailyCounts.error) : APMLogContext("(null)"));
        return std::nullopt;
    }
    bool countsChanged = false;
    std::vector<APMEvent> events;
    events.reserve(remaining.size());
    for (const APMRawEventData& raw : remaining) {
        APMRawEventData data = internalEventFromPublicEvent(raw);
        const bool conversionCounted = checkConversion(data.rawEvent, *dailyCounts.value);
        const bool realtimeCounted = checkRealtime(data.rawEvent, *dailyCounts.value);
        countsChanged = countsChanged || conversionCounted || realtimeCounted;
        data = processInAppPurchaseEvent(data);
        events.push_back(std::move(data.rawEvent));
    }
    APMError error;
    if (countsChanged && !database->updateDailyCounts(*dailyCounts.value, &error)) {
        log->log(2, 23106, "Failed to update daily event counts. Name, error", error);
        return std::nullopt;
    }
    return events;
}

// MARK: - Session start and engagement

bool APMMeasurement::evaluationTimeFromRawEvents(const std::vector<APMRawEventData>& rawEvents,
                                                 APMPBMeasurementBundle& bundle) {
    const auto database = this->database();
    if (!database) return false;
    const auto& log = monitor();
    const bool hasSessionStart = std::any_of(rawEvents.begin(), rawEvents.end(),
                                             [](const APMRawEventData& raw) { return raw.rawEvent.name() == "_s"; });
    bool sessionStarted = false;
    if (hasSessionStart) {
        APMAudienceBundleWork defaultWork;
        APMAudienceBundleWork& work = audienceBundleWork_ ? *audienceBundleWork_ : defaultWork;
        if (!work.startSession(APMPBGetMessages<APMPBUserAttribute>(bundle, slot(kUserAttributes)))) return false;
        APMError error;
        if (!database->clearCurrentSessionCounts(&error)) {
            log->log(1, 23185, "Failed to clear event session counts. Error", error);
            return true;
        }
        sessionStarted = true;
    }
    std::int64_t engagement = 0;
    for (const APMRawEventData& raw : rawEvents) {
        const APMParameters& parameters = raw.rawEvent.parameters();
        const APMValue* time = parameters.find("_et");
        if (time && !parameters.contains("_fr")) engagement = saturatingAdd(engagement, integerOf(*time));
    }
    if (!updateUserEngagement(engagement, bundle, false)) return true;
    if (sessionStarted) {
        APMError error;
        if (!database->deleteUserAttributeWithName("_se", &error)) {
            log->log(1, 23188, "Unable to delete session engagement property on session start. Error", error);
            return true;
        }
    }
    (void)updateUserEngagement(engagement, bundle, true);
    return true;
}

// MARK: - The bundle

bool APMMeasurement::bundleRawEvents() {
    (void)scheduler_->checkOnBackgroundThread("bundleRawEvents");
    const auto database = this->database();
    if (!database) return false;
    bool consumed = false;
    std::optional<RefusedBundle> refused;
    bool committed = false;
    for (std::int64_t eventLimit = std::numeric_limits<std::int64_t>::max();;) {
        refused.reset();
        committed = performCommittedTransaction(
            *database, [&] { return bundleRawEventsInTransaction(consumed, refused, eventLimit); });
        audienceBundleWork_.reset();
        // Too large for the queue: the same rows again in a bundle of half
        // as many events; a single event too large stays for a later run.
        if (committed || !refused || !refused->tooLarge || refused->count <= 1) break;
        eventLimit = refused->count / 2;
    }
    if (!committed && refused && refused->tooLarge) {
        consumed = false;
    } else if (!committed && refused) {
        // The queue refused the bundle for its content: it would be built
        // and refused again on every run, so its raw events go.
        monitor()->log(2, 23115, "Dropping raw events of a bundle the upload queue refused. Metadata, row ID",
                       refused->fingerprint, refused->maxRowID);
        consumed = database->performTransaction([&] {
            if (!deleteBundledRawEvents(*database, refused->maxRowID, refused->fingerprint)) return false;
            incrementOnWorkerQueueByCount(refused->count, kDroppedRawEventSignal, "bundle_refused");
            return true;
        });
    } else if (!committed) {
        consumed = false;
    }
    if (!consumed) return false;
    setSuspendedUploadTimestamp(0.0);
    return true;
}

bool APMMeasurement::dropPoisonRawEvents(std::int64_t fingerprint, std::optional<std::int64_t> rowID,
                                         const char* reason, bool& consumed) {
    const auto database = this->database();
    if (!database) return false;
    std::int64_t dropped = 0;
    if (rowID) {
        APMError error;
        if (!database->deleteRawEventWithRowID(*rowID, &error)) {
            monitor()->log(1, 23119, "Unable to delete raw events. RowID, error", *rowID, error);
            return false;
        }
        dropped = 1;
    } else {
        auto deleted = database->deleteRawEventsWithMetadataFingerprint(fingerprint);
        if (!deleted.value) {
            monitor()->log(1, 23119, "Unable to delete raw events. RowID, error", fingerprint,
                           deleted.error ? APMLogContext(*deleted.error) : APMLogContext("(null)"));
            return false;
        }
        dropped = *deleted.value;
    }
    // The metadata goes with the last row of its fingerprint.
    if (!deleteBundledRawEvents(*database, 0, fingerprint)) return false;
    monitor()->log(2, 23096, "Dropped raw events that can never be bundled. Reason, metadata fingerprint, count",
                   reason, fingerprint, dropped);
    incrementOnWorkerQueueByCount(dropped, kDroppedRawEventSignal, reason);
    consumed = true;
    return true;
}

bool APMMeasurement::bundleRawEventsInTransaction(bool& consumed, std::optional<RefusedBundle>& refused,
                                                  std::int64_t eventLimit) {
    const auto database = this->database();
    if (!database) return false;
    const auto config = configuration();
    const auto& log = monitor();

    auto next = database->nextMetadataFingerprintToProcess();
    if (next.error) {
        log->log(1, 23095, "Unable to fetch next event metadata. Error", *next.error);
        return false;
    }
    if (!next.value) return true;  // no raw event at all
    const std::int64_t fingerprint = *next.value;

    std::optional<std::int64_t> undecodableRowID;
    std::optional<std::vector<APMRawEventData>> rawEvents =
        rawEventsWithMetadataFingerprint(fingerprint, &undecodableRowID, eventLimit);
    if (!rawEvents) return false;
    if (rawEvents->empty()) {
        // Only the oldest row ends a read before anything was accepted.
        return undecodableRowID ? dropPoisonRawEvents(fingerprint, undecodableRowID, "undecodable_event", consumed)
                                : true;
    }

    auto storedMetadata = database->queryRawEventsMetadataWithFingerprint(fingerprint);
    std::shared_ptr<APMPBMeasurementBundle> bundle =
        storedMetadata.value ? APMPBMeasurementBundle::initWithBuffer(*storedMetadata.value) : nullptr;
    if (!bundle) {
        log->log(1, 23098, "Unable to fetch event metadata. Metadata fingerprint, error", fingerprint,
                 storedMetadata.error ? APMLogContext(*storedMetadata.error) : APMLogContext("(null)"));
        if (storedMetadata.error && !isDataFault(*storedMetadata.error)) return false;
        return dropPoisonRawEvents(fingerprint, std::nullopt,
                                   storedMetadata.value ? "undecodable_metadata" : "missing_metadata", consumed);
    }
    APMPBMeasurementBundle& b = *bundle;
    if (!bundleHasAppID(b) && !fallbackBundleAppID()) {
        // The upload queue takes no bundle without an app ID: the events
        // wait, untouched, until the application's bundle names one.
        if (!std::exchange(loggedMissingAppID_, true)) {
            log->log(2, 23991, "Events are kept and not bundled: the app has no app ID (CFBundleIdentifier)");
        }
        return true;
    }

    std::optional<std::vector<APMEvent>> events = processRawEvents(*rawEvents, fingerprint);
    if (!events) return false;
    if (events->empty()) {
        // Every event was rejected and its raw events deleted: that is work
        // done, so the caller goes on with the rows behind them.
        consumed = true;
        return true;
    }

    const bool analyticsDenied = APMConsentSettingsUtil::isAnalyticsStorageDenied();
    const auto audience = this->audience();
    audienceBundleWork_ = audience ? audience->beginBundle() : nullptr;
    if (!audienceBundleWork_) audienceBundleWork_ = std::make_unique<APMAudienceBundleWork>();
    if (!evaluationTimeFromRawEvents(*rawEvents, b)) return false;
    handleAnalyticsStorageConsentTransitions(b);
    std::optional<std::vector<APMEvent>> counted = eventsAfterUpdatingEventAggregates(*events, !analyticsDenied);
    if (!counted) return false;

    std::vector<std::shared_ptr<APMPBEvent>> wire;
    bool onDeviceSourceSeen = false;
    for (const APMEvent& event : *counted) {
        if (auto message = wireEvent(event)) wire.push_back(std::move(message));
        onDeviceSourceSeen = onDeviceSourceSeen || isOnDeviceSourceEvent(event);
    }
    if (config->isEventSamplingEnabled() && !isDebugMode()) {
        APMError error;
        auto sampled = sampleEvents(wire, &error);
        if (!sampled && !error.domain.empty()) return false;
        wire = sampled.value_or(std::vector<std::shared_ptr<APMPBEvent>>{});
    }
    const std::int64_t lastRowID = rawEvents->back().rowID;
    if (wire.empty()) {
        log->log(5, 23159, "No events left after sampling. Dropping bundle");
        if (!deleteBundledRawEvents(*database, lastRowID, fingerprint)) return false;
        consumed = true;
        return true;
    }
    APMPBSetArray(b, slot(kEvents), APMPBArrayOfMessages(std::move(wire)));

    const platform::PropertyData campaignBuffer = persistedConfig_->adCampaignInfoBuffer();
    if (!campaignBuffer.empty()) {
        if (auto campaign = APMPBAdCampaignInfo::initWithBuffer(campaignBuffer)) {
            APMPBSetMessage(b, slot(kAdCampaignInfo), campaign.get());
        }
    }

    double start = std::numeric_limits<double>::max();
    double end = std::numeric_limits<double>::min();  // the smallest positive normal double
    for (const APMRawEventData& raw : *rawEvents) {
        start = std::min(start, raw.rawEvent.timestamp());
        end = std::max(end, raw.rawEvent.timestamp());
    }
    if (!updateAppMetadataForBundle(b, start, end)) return false;

    const double evaluationTime = start;
    std::vector<std::shared_ptr<APMPBUserAttribute>> userAttributes =
        APMPBGetMessages<APMPBUserAttribute>(b, slot(kUserAttributes));
    if (shouldUpdateNPAUserProperty_) {
        setPersonalizedAdsUserPropertyOnWorkerQueue();
        whenCommitted([this] { shouldUpdateNPAUserProperty_ = false; });
    }
    if (APMConsentSettingsUtil::isAdStorageDenied() && !onDeviceSourceSeen) {
        APMPBClearField(b, slot(kOnDeviceMeasurementInfo));
        userAttributes = userAttributesExcludingPSM(userAttributes);
        APMPBSetArray(b, slot(kUserAttributes), APMPBArrayOfMessages(userAttributes));
    }
    if (!analyticsDenied && !audienceBundleWork_->finish(userAttributes, evaluationTime, b)) return false;
    addBundleMetadataIntoBundle(b, start, end);
    if ((analyticsDenied || !config->sessionStitchingTokenFeatureEnabled()) &&
        APMPBHasField(b, slot(kSessionStitchingToken))) {
        APMPBClearField(b, slot(kSessionStitchingToken));
    }
    addDiagnosticsSignalsToBundle(*database, *config, b, isUploadOnAppResignInProgress(), now());

    const bool realtime = containsRealtimeEvent(*counted);
    APMError error;
    if (!database->insertBundle(APMEncodedMessage(b), realtime, &error)) {
        log->log(1, 23115, "Unable to insert bundle. Error", error);
        const bool tooLarge = error.code == kAPMDatabaseErrorTooLarge;
        if (tooLarge || refusalDropsRawEvents(error)) {
            refused = RefusedBundle{fingerprint, lastRowID, static_cast<std::int64_t>(rawEvents->size()), tooLarge};
        }
        return false;
    }
    log->log(8, 23221, APMConsentSettingsUtil::description());
    log->log(7, 23116, "Bundle added to the upload queue. BundleID, timestamp (ms)",
             APMPBGetInt32(b, slot(kBundleIndex)), APMPBGetInt64(b, slot(kEndTimestamp)));
    if (!deleteBundledRawEvents(*database, lastRowID, fingerprint)) return false;
    consumed = true;
    return true;
}
