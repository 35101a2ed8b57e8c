#pragma once
// Answers of reads of one table, kept while the table is unwritten: the
// event road asks some of them for every event, and they almost never
// change. The owner passes the table's write generation (see
// APMSqliteStore::tableWriteGeneration); a failed read is never kept.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>

#include "measurement/storage/APMError.h"

template <class Value>
class APMKeptReads {
public:
    // The kept answer for `key` when `generation` is the one it was read at,
    // otherwise `read()`'s, kept unless it failed.
    template <class Read>
    APMResult<Value> answer(const std::string& key, std::uint64_t generation, Read&& read) {
        if (const auto kept = answers_.find(key); kept != answers_.end() && kept->second.first == generation) {
            return kept->second.second;
        }
        APMResult<Value> fresh = std::forward<Read>(read)();
        if (fresh.failed()) return fresh;
        // Keys can be endless (fingerprints, names): a full table starts over.
        if (answers_.size() >= kMostKept && !answers_.contains(key)) answers_.clear();
        answers_.insert_or_assign(key, std::make_pair(generation, fresh));
        return fresh;
    }

    // For a writer that knows what its write did to an answer: the answer
    // kept for `key` at `before` becomes `change(answer)` at `after`. An
    // answer kept at another generation is left alone (it is stale anyway);
    // `change` answering false drops the answer instead.
    template <class Change>
    void carryOver(const std::string& key, std::uint64_t before, std::uint64_t after, Change&& change) {
        const auto kept = answers_.find(key);
        if (kept == answers_.end() || kept->second.first != before || !kept->second.second.value) return;
        if (!std::forward<Change>(change)(*kept->second.second.value)) {
            answers_.erase(kept);
            return;
        }
        kept->second.first = after;
    }

private:
    static constexpr std::size_t kMostKept = 64;
    std::unordered_map<std::string, std::pair<std::uint64_t, APMResult<Value>>> answers_;
};
