#include "measurement/messages/FilterResultBits.h"

#include <cstddef>
#include <optional>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"

namespace {

// Whether bit `bit` of word `index` of the repeated uint64 slot is set; false
// when the slot has no such word.
bool wordBitIsSet(const APMPBResultData& resultData, int slot, std::size_t index, unsigned bit) {
    std::optional<APMPBArray> words = APMPBGetArray(resultData, slot);
    if (!words || words->size() <= index) {
        return false;
    }
    const auto* word = std::get_if<APMPBNumber>(&(*words)[index]);
    if (word == nullptr) {
        return false;
    }
    const auto bits = static_cast<std::uint64_t>(word->longLongValue());
    return ((bits >> bit) & 1U) != 0;
}

}  // namespace

bool APMResultDataIsFilterTrue(const APMPBResultData& resultData, std::int32_t filterID) {
    if (filterID < 0) {
        return false;
    }
    const auto index = static_cast<std::size_t>(filterID / 64);
    const auto bit = static_cast<unsigned>(filterID % 64);
    return wordBitIsSet(resultData, ResultDataSlot::Status, index, bit) &&
           wordBitIsSet(resultData, ResultDataSlot::Results, index, bit);
}
