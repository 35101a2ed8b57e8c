#pragma once
// One audience's stored filter state (the ResultData message) as plain data:
// two bit sets over the audience's filter IDs and the evaluation times of its
// dynamic, session-scoped and sequence filters.
//
// Filter ID n lives in word n / 64 at bit n % 64 (bit 0 the least
// significant) of both `status` (evaluated) and `results` (stored verdict
// true). Event and property filters of one audience share the bit space.
// Times are whole seconds since 1970.

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMBytes.h"

struct APMAudienceDynamicTimestamp {
    std::int32_t filterID = 0;
    std::int64_t evalTimestamp = 0;
    bool operator==(const APMAudienceDynamicTimestamp&) const = default;
};

struct APMAudienceSequenceTimestamps {
    std::int32_t filterID = 0;
    std::vector<std::int64_t> evalTimestamps;
    bool operator==(const APMAudienceSequenceTimestamps&) const = default;
};

struct APMAudienceResultData {
    std::vector<std::uint64_t> status;
    std::vector<std::uint64_t> results;
    std::vector<APMAudienceDynamicTimestamp> dynamicFilterTimestamps;
    std::vector<APMAudienceSequenceTimestamps> sequenceFilterTimestamps;

    // None when the bytes do not decode as ResultData; empty bytes are an
    // empty result.
    [[nodiscard]] static std::optional<APMAudienceResultData> decode(const APMBytes& bytes);
    [[nodiscard]] static std::optional<APMAudienceResultData> fromMessage(const APMPBResultData& message);
    std::shared_ptr<APMPBResultData> message() const;
    // Empty when the message cannot be encoded (never for data made here).
    APMBytes encoded() const;

    // Both bits of the filter set; false for a word beyond either array and
    // for a negative ID.
    bool isTrue(std::int32_t filterID) const;
    // Grows both arrays with zero words until the filter's word exists, then
    // sets the status bit when `verdict` is given and the result bit to its
    // truth (both cleared for no verdict).
    void setVerdict(std::int32_t filterID, std::optional<bool> verdict);
    // Clears both bits; a word beyond the arrays has nothing to clear.
    void clearFilter(std::int32_t filterID);
    bool hasAnyStatusBit() const;

    bool operator==(const APMAudienceResultData&) const = default;
};
