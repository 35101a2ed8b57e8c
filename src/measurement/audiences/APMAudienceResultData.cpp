#include "measurement/audiences/APMAudienceResultData.h"

#include <algorithm>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"

namespace {

// Slots of the timestamp fields (tag minus one).
constexpr int kDynamicTimestampsSlot = 2;
constexpr int kSequenceTimestampsSlot = 3;
constexpr int kTimestampFilterIDSlot = 0;
constexpr int kTimestampValueSlot = 1;

constexpr std::int32_t kBitsPerWord = 64;

std::vector<std::uint64_t> wordsOf(const NANOMessageBase& message, int slot) {
    std::vector<std::uint64_t> words;
    if (auto array = APMPBGetArray(message, slot)) {
        words.reserve(array->size());
        for (const auto& object : *array) {
            if (const auto* number = std::get_if<APMPBNumber>(&object)) {
                words.push_back(static_cast<std::uint64_t>(number->longLongValue()));
            }
        }
    }
    return words;
}

APMPBArray wordObjects(const std::vector<std::uint64_t>& words) {
    APMPBArray objects;
    objects.reserve(words.size());
    for (std::uint64_t word : words) objects.emplace_back(APMPBNumber::numberWithUnsignedLongLong(word));
    return objects;
}

}  // namespace

std::optional<APMAudienceResultData> APMAudienceResultData::decode(const APMBytes& bytes) {
    auto message = APMPBResultData::initWithBuffer(bytes);
    if (!message) return std::nullopt;
    return fromMessage(*message);
}

std::optional<APMAudienceResultData> APMAudienceResultData::fromMessage(const APMPBResultData& message) {
    if (message.messageInfo() == nullptr) return std::nullopt;
    APMAudienceResultData data;
    data.status = wordsOf(message, ResultDataSlot::Status);
    data.results = wordsOf(message, ResultDataSlot::Results);
    for (const auto& entry : APMPBGetMessages<APMPBDynamicFilterResultTimestamp>(message, kDynamicTimestampsSlot)) {
        data.dynamicFilterTimestamps.push_back(
            {APMPBGetInt32(*entry, kTimestampFilterIDSlot), APMPBGetInt64(*entry, kTimestampValueSlot)});
    }
    for (const auto& entry : APMPBGetMessages<APMPBSequenceFilterResultTimestamp>(message, kSequenceTimestampsSlot)) {
        APMAudienceSequenceTimestamps sequence{APMPBGetInt32(*entry, kTimestampFilterIDSlot), {}};
        if (auto times = APMPBGetArray(*entry, kTimestampValueSlot)) {
            for (const auto& object : *times) {
                if (const auto* number = std::get_if<APMPBNumber>(&object)) {
                    sequence.evalTimestamps.push_back(number->longLongValue());
                }
            }
        }
        data.sequenceFilterTimestamps.push_back(std::move(sequence));
    }
    return data;
}

std::shared_ptr<APMPBResultData> APMAudienceResultData::message() const {
    auto message = APMPBResultData::initWithMessageInfo(nullptr);
    APMPBSetArray(*message, ResultDataSlot::Status, wordObjects(status));
    APMPBSetArray(*message, ResultDataSlot::Results, wordObjects(results));
    std::vector<std::shared_ptr<APMPBDynamicFilterResultTimestamp>> dynamic;
    for (const auto& entry : dynamicFilterTimestamps) {
        auto element = APMPBDynamicFilterResultTimestamp::initWithMessageInfo(nullptr);
        APMPBSetInt32(*element, kTimestampFilterIDSlot, entry.filterID);
        APMPBSetInt64(*element, kTimestampValueSlot, entry.evalTimestamp);
        dynamic.push_back(std::move(element));
    }
    APMPBSetArray(*message, kDynamicTimestampsSlot, APMPBArrayOfMessages(dynamic));
    std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>> sequences;
    for (const auto& entry : sequenceFilterTimestamps) {
        auto element = APMPBSequenceFilterResultTimestamp::initWithMessageInfo(nullptr);
        APMPBSetInt32(*element, kTimestampFilterIDSlot, entry.filterID);
        APMPBArray times;
        for (std::int64_t time : entry.evalTimestamps) times.emplace_back(APMPBNumber::numberWithLongLong(time));
        APMPBSetArray(*element, kTimestampValueSlot, times);
        sequences.push_back(std::move(element));
    }
    APMPBSetArray(*message, kSequenceTimestampsSlot, APMPBArrayOfMessages(sequences));
    return message;
}

APMBytes APMAudienceResultData::encoded() const {
    auto bytes = message()->protoBuffer();
    return bytes ? bytes->toVector() : APMBytes{};
}

bool APMAudienceResultData::isTrue(std::int32_t filterID) const {
    if (filterID < 0) return false;
    const auto word = static_cast<std::size_t>(filterID / kBitsPerWord);
    const std::uint64_t mask = std::uint64_t{1} << (filterID % kBitsPerWord);
    return word < status.size() && word < results.size() && (status[word] & mask) != 0 &&
           (results[word] & mask) != 0;
}

void APMAudienceResultData::setVerdict(std::int32_t filterID, std::optional<bool> verdict) {
    if (filterID < 0) return;
    const auto word = static_cast<std::size_t>(filterID / kBitsPerWord);
    const std::uint64_t mask = std::uint64_t{1} << (filterID % kBitsPerWord);
    const std::size_t length = std::max({status.size(), results.size(), word + 1});
    status.resize(length, 0);
    results.resize(length, 0);
    status[word] = verdict ? (status[word] | mask) : (status[word] & ~mask);
    results[word] = verdict.value_or(false) ? (results[word] | mask) : (results[word] & ~mask);
}

void APMAudienceResultData::clearFilter(std::int32_t filterID) {
    if (filterID < 0) return;
    const auto word = static_cast<std::size_t>(filterID / kBitsPerWord);
    const std::uint64_t mask = std::uint64_t{1} << (filterID % kBitsPerWord);
    if (word < status.size()) status[word] &= ~mask;
    if (word < results.size()) results[word] &= ~mask;
}

bool APMAudienceResultData::hasAnyStatusBit() const {
    return std::any_of(status.begin(), status.end(), [](std::uint64_t word) { return word != 0; });
}
