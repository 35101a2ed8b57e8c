// Sorting array slots. The comparison may be a program function, which can
// answer inconsistently or change the array while the sort runs, so the sort
// is a merge sort of its own over a copy of the slots: whatever the answers,
// it stays within bounds and ends after O(n log n) comparisons.

#include <algorithm>
#include <vector>

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

class SlotOrder {
public:
    SlotOrder(const ValueList& slots, APMPFunctionValue* compare, const ScopePtr& scope, ErrorSlot& error)
        : slots_(slots), compare_(compare), scope_(scope), error_(error) {
        if (!compare_) computeTexts();
    }

    // Negative when slot a goes first, positive when b does, 0 when equal.
    int operator()(std::size_t a, std::size_t b) {
        if (error_) return 0;
        const int special = rankOfSpecial(*slots_[a]) - rankOfSpecial(*slots_[b]);
        if (special != 0 || rankOfSpecial(*slots_[a]) != 0) return special;
        if (!compare_) return texts_[a].compare(texts_[b]);
        const ValuePtr answer = compare_->invokeWithArguments({slots_[a], slots_[b]}, scope_, error_);
        if (error_) return 0;
        const double number = answer->doubleValueOrError(error_);
        if (error_) return 0;
        return number < 0 ? -1 : (number > 0 ? 1 : 0);
    }

private:
    // Undefined values come after every other value, holes after them.
    static int rankOfSpecial(const APMPRuntimeValue& slot) {
        switch (slot.kind()) {
            case ValueKind::Hole: return 2;
            case ValueKind::Undefined: return 1;
            default: return 0;
        }
    }

    // String forms, each taken once and charged to the run, since a slot
    // may be a large array whose string form is built anew on every call.
    void computeTexts() {
        texts_.resize(slots_.size());
        for (std::size_t i = 0; i < slots_.size() && !error_; ++i) {
            if (rankOfSpecial(*slots_[i]) != 0) continue;
            texts_[i] = slots_[i]->stringValueOrError(error_);
            if (!error_ && !scope_->budget().chargeGrowth(texts_[i].size(), error_)) break;
        }
    }

    const ValueList& slots_;
    APMPFunctionValue* compare_;
    const ScopePtr& scope_;
    ErrorSlot& error_;
    std::vector<std::u16string> texts_;
};

// A bottom-up merge sort of the positions 0..n-1.
template <typename Compare>
std::vector<std::size_t> mergeSortedPositions(std::size_t n, Compare& compare) {
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::vector<std::size_t> merged(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t low = 0; low < n; low += 2 * width) {
            const std::size_t middle = std::min(low + width, n);
            const std::size_t high = std::min(low + 2 * width, n);
            std::size_t i = low;
            std::size_t j = middle;
            std::size_t k = low;
            while (i < middle && j < high) merged[k++] = compare(order[j], order[i]) < 0 ? order[j++] : order[i++];
            while (i < middle) merged[k++] = order[i++];
            while (j < high) merged[k++] = order[j++];
        }
        order.swap(merged);
    }
    return order;
}

}  // namespace

void APMPArrayValue::sortUsingFunctionValue(APMPFunctionValue* compare, const ScopePtr& scope, ErrorSlot& error) {
    const ValueList slots = slots_;
    ErrorSlot firstError;
    SlotOrder order(slots, compare, scope, firstError);
    const std::vector<std::size_t> positions = mergeSortedPositions(slots.size(), order);
    ValueList sorted;
    sorted.reserve(slots.size());
    for (std::size_t position : positions) sorted.push_back(slots[position]);
    slots_ = std::move(sorted);
    if (firstError) error = std::move(firstError);
}

}  // namespace measurement::rules
