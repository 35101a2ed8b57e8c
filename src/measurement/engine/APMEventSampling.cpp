// Event sampling at bundling time: about one in N occurrences of a sampled
// event is uploaded, the first of each local day always; what was bundled
// last per name is kept in the sampling columns of the event aggregates.

#include <cmath>
#include <map>
#include <random>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMEvent.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"

namespace {

// The day number of `seconds` in the account's time zone, truncated toward
// zero; out-of-range times (a damaged row) count as day 0.
std::int32_t dayNumber(double seconds, std::int32_t offsetMinutes) {
    const double day = std::trunc((seconds + static_cast<double>(offsetMinutes) * 60.0) / 86400.0);
    if (!std::isfinite(day) || day < INT32_MIN || day > INT32_MAX) return 0;
    return static_cast<std::int32_t>(day);
}

std::optional<std::int64_t> firstIntegerParameter(const APMPBEvent& event, const std::string& name) {
    for (const auto& param : APMPBGetMessages<APMPBEventParam>(event, EventSlot::Params)) {
        if (param && APMPBGetString(*param, EventParamSlot::Name) == name) {
            return APMPBGetInt64(*param, EventParamSlot::IntValue);
        }
    }
    return std::nullopt;
}

// Appends an integer parameter unless one of that name is there already.
void addIntegerParameter(APMPBEvent& event, const char* name, std::int64_t value, long failureCode,
                         const char* failureMessage) {
    APMPBArray params = APMPBGetArray<APMPBEventParam>(event, EventSlot::Params).value_or(APMPBArray{});
    if (APMEventParamArrayContainsName(params, name)) return;
    auto param = APMPBEventParam::initWithMessageInfo(nullptr);
    if (!param) {
        APMMonitor::shared()->log(2, failureCode, failureMessage);
        return;
    }
    APMPBSetString(*param, EventParamSlot::Name, name);
    APMPBSetInt64(*param, EventParamSlot::IntValue, value);
    params.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(param)));
    APMPBSetArray(event, EventSlot::Params, std::move(params));
}

}  // namespace

bool APMMeasurement::canEventBeSampled(const APMPBEvent& event) {
    const auto config = configuration();
    if (!config->isEventSamplingEnabled()) return false;
    const std::string name = APMPBGetString(event, EventSlot::Name).value_or("");
    if (!config->eventHasSamplingRate(name)) return false;
    if (config->samplingRateForEvent(name) > 1) return true;
    monitor()->log(5, 23154, "Invalid sampling rate provided");
    return false;
}

bool APMMeasurement::isEventBundledAfterRoll(std::uint32_t rate) {
    if (samplingRoll_) return samplingRoll_(rate);
    if (rate <= 1) return true;
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::uint32_t>(0, rate - 1)(generator) == 0;
}

std::optional<std::vector<std::shared_ptr<APMPBEvent>>> APMMeasurement::sampleEvents(
    const std::vector<std::shared_ptr<APMPBEvent>>& events, APMError* error) {
    const auto database = this->database();
    const auto& log = monitor();
    if (!database) {
        APMSetError(error, 0, "No database");
        return std::nullopt;
    }
    auto all = database->allEventAggregates();
    if (!all.value && all.error) {
        log->log(1, 23157, "Unable to query all event aggregates for cache. error", *all.error);
        if (error) *error = *all.error;
        return std::nullopt;
    }
    std::map<std::string, APMEventAggregates> working;
    for (APMEventAggregates& aggregates : all.value.value_or(std::vector<APMEventAggregates>{})) {
        if (!aggregates.name().empty()) working.emplace(aggregates.name(), std::move(aggregates));
    }
    const auto config = configuration();
    const std::int32_t offsetMinutes = config->analyticsAccountTimeZoneOffsetMinutes();

    std::vector<std::shared_ptr<APMPBEvent>> kept;
    for (const auto& event : events) {
        if (!event) continue;
        const std::string name = APMPBGetString(*event, EventSlot::Name).value_or("");
        if (name.empty()) {
            log->log(2, 23155, "Dropping event at sampling. Event has no name");
            continue;
        }
        const double seconds = static_cast<double>(APMPBGetInt64(*event, EventSlot::Timestamp)) / 1000.0;
        const std::int32_t day = dayNumber(seconds, offsetMinutes);
        const auto found = working.find(name);
        APMEventAggregates* aggregates = found == working.end() ? nullptr : &found->second;
        const auto markBundled = [&] {
            if (!aggregates) return;
            aggregates->lastBundledTimestamp = seconds;
            aggregates->lastBundledDay = day;
        };
        if (!canEventBeSampled(*event)) {
            markBundled();
            kept.push_back(event);
            continue;
        }
        const std::int32_t rate = config->samplingRateForEvent(name);
        if (isEventBundledAfterRoll(static_cast<std::uint32_t>(rate))) {
            if (aggregates) {
                aggregates->lastSamplingRate = rate;
                aggregates->lastSampledComplexEventID.reset();
            }
            markBundled();
            addIntegerParameter(*event, "_sr", rate, 23153, "Failed to create sampling rate parameter");
            kept.push_back(event);
            continue;
        }
        std::int32_t lastDay = aggregates ? aggregates->lastBundledDay : 0;
        if (lastDay == 0) {
            lastDay = dayNumber(static_cast<double>(APMPBGetInt64(*event, EventSlot::PreviousTimestamp)) / 1000.0,
                                offsetMinutes);
        }
        if (lastDay != day) {
            markBundled();
            addIntegerParameter(*event, "_sr", rate, 23153, "Failed to create sampling rate parameter");
            addIntegerParameter(*event, "_efs", 1, 23158, "Failed to create exempt from sampling parameter");
            if (aggregates) aggregates->lastExemptFromSampling = true;
            kept.push_back(event);
        } else if (auto complexEventID = firstIntegerParameter(*event, "_eid"); complexEventID && aggregates) {
            aggregates->lastSampledComplexEventID = complexEventID;
        }
        if (aggregates) aggregates->lastSamplingRate = rate;
    }

    for (const auto& [name, sampled] : working) {
        auto stored = database->eventAggregatesWithName(name);
        if (!stored.value) {
            log->log(1, 23151, "Unable to query event aggregates to update database. Name, error", name,
                     stored.error ? APMLogContext(*stored.error) : APMLogContext("(null)"));
            if (error) {
                *error = stored.error.value_or(APMError::withCode(kAPMDatabaseErrorRowMissing, "No event aggregates"));
            }
            return std::nullopt;
        }
        APMEventAggregates updated = std::move(*stored.value);
        if (sampled.lastBundledTimestamp != 0) updated.lastBundledTimestamp = sampled.lastBundledTimestamp;
        updated.lastSamplingRate = sampled.lastSamplingRate;
        updated.lastSampledComplexEventID = sampled.lastSampledComplexEventID;
        updated.lastExemptFromSampling = sampled.lastExemptFromSampling;
        updated.lastBundledDay = sampled.lastBundledDay;
        APMError failure;
        if (!database->updateEventAggregates(updated, &failure)) {
            log->log(1, 23152,
                     "Failed to update event aggregates after removing removing events due to sampling. Error",
                     failure);
            if (error) *error = failure;
            return std::nullopt;
        }
    }
    return kept;
}
