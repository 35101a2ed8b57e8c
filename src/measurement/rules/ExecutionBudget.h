#pragma once
// What one run of a program has spent (see ExecutionLimits.h), kept by the
// runtime where programs cannot reach it. A reset (each handled event)
// restores the instruction and growth budgets.

#include <cstddef>
#include <cstdint>
#include <string>

#include "measurement/rules/APMPRuntimeValue.h"
#include "measurement/rules/ExecutionLimits.h"

namespace measurement::rules {

class ExecutionBudget {
public:
    // Counts one evaluation; false (code 18) once the limit is reached,
    // without counting.
    [[nodiscard]] bool countInstruction(ErrorSlot& error);
    std::int64_t instructionCount() const { return instructions_; }

    // Restores the instruction and growth budgets.
    void reset();

    // Nesting of evaluation; pair every successful enter with a leave.
    [[nodiscard]] bool enterNested(ErrorSlot& error);
    void leaveNested() { --depth_; }

    // Charges `units` of growth; false (code 20) past the run's budget.
    [[nodiscard]] bool chargeGrowth(std::size_t units, ErrorSlot& error);
    [[nodiscard]] bool chargeArraySlots(std::size_t slots, ErrorSlot& error);

    // A new string value for a text that a program built; checks the length
    // cap and charges the run's growth. Undefined, with code 20, when over.
    ValuePtr newString(std::u16string text, ErrorSlot& error);

private:
    std::int64_t instructions_ = 0;
    std::size_t growth_ = 0;
    int depth_ = 0;
};

// Scoped nesting: `ok()` tells whether the level was entered.
class NestingGuard {
public:
    NestingGuard(ExecutionBudget& budget, ErrorSlot& error)
        : budget_(budget), entered_(budget.enterNested(error)) {}
    ~NestingGuard() {
        if (entered_) budget_.leaveNested();
    }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    bool ok() const { return entered_; }

private:
    ExecutionBudget& budget_;
    bool entered_;
};

}  // namespace measurement::rules
