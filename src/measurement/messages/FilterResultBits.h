#pragma once
// The bit layout of audience filter results in ResultData: filter F lives in
// word F / 64 at bit F % 64 (bit 0 the least significant) of both the
// `status` words (evaluated) and the `results` words (true).

#include <cstdint>

#include "measurement/messages/APMPBMessages.h"

// True only when both word arrays reach the filter's word and its status and
// result bits are both 1. A negative filter ID is never true.
bool APMResultDataIsFilterTrue(const APMPBResultData& resultData, std::int32_t filterID);
