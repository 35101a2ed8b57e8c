#pragma once
// The stored forms of audience filters and results: an event or property
// filter of one audience (its encoded message and flags) and the encoded
// current and previous results of one audience.

#include <cstdint>
#include <string>

#include "measurement/storage/APMBytes.h"

struct APMEventFilter {
    std::int32_t audienceID = 0;
    std::int32_t filterID = 0;
    std::string eventName;
    APMBytes data;  // the encoded EventFilter message
    bool isSessionScoped = false;
    bool isDynamic = false;
    bool isSequence = false;

    bool operator==(const APMEventFilter&) const = default;
};

struct APMPropertyFilter {
    std::int32_t audienceID = 0;
    std::int32_t filterID = 0;
    std::string propertyName;
    APMBytes data;  // the encoded PropertyFilter message
    bool isSessionScoped = false;
    bool isDynamic = false;
    bool isSequence = false;

    bool operator==(const APMPropertyFilter&) const = default;
};

struct APMFilterResult {
    std::int32_t audienceID = 0;
    APMBytes currentResults;   // an encoded ResultData message
    APMBytes previousResults;  // an encoded ResultData message

    bool operator==(const APMFilterResult&) const = default;
};
