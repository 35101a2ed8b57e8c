#include "measurement/rules/ExecutionBudget.h"

#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

bool ExecutionBudget::countInstruction(ErrorSlot& error) {
    if (instructions_ >= kMaxInstructions) return fail(error, PixieErrorCode::InstructionLimitReached);
    ++instructions_;
    return true;
}

void ExecutionBudget::reset() {
    instructions_ = 0;
    growth_ = 0;
}

bool ExecutionBudget::enterNested(ErrorSlot& error) {
    if (depth_ >= kMaxNestingDepth) return fail(error, PixieErrorCode::NestingTooDeep);
    ++depth_;
    return true;
}

bool ExecutionBudget::chargeGrowth(std::size_t units, ErrorSlot& error) {
    if (units > kMaxGrowthPerRun - growth_) return fail(error, PixieErrorCode::SizeLimitExceeded);
    growth_ += units;
    return true;
}

bool ExecutionBudget::chargeArraySlots(std::size_t slots, ErrorSlot& error) {
    if (slots > kMaxArrayLength) return fail(error, PixieErrorCode::SizeLimitExceeded);
    return chargeGrowth(slots * kGrowthUnitsPerArraySlot, error);
}

ValuePtr ExecutionBudget::newString(std::u16string text, ErrorSlot& error) {
    if (text.size() > kMaxStringLength || !chargeGrowth(text.size(), error)) {
        fail(error, PixieErrorCode::SizeLimitExceeded);
        return undefinedValue();
    }
    return APMPStringValue::make(std::move(text));
}

}  // namespace measurement::rules
