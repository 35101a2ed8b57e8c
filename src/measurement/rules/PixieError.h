#pragma once
// Errors of the rule-engine interpreter. Every failing operation fills an
// ErrorSlot with an APMError of the pixie domain whose code alone carries the
// meaning (the description stays empty), and returns its fallback value;
// callers stop at the first filled slot.

#include <optional>

#include "measurement/storage/APMError.h"

namespace measurement::rules {

inline constexpr const char* kPixieErrorDomain = "com.vadova.vaz.measurement.pixie.ErrorDomain";

enum class PixieErrorCode : long {
    UndeclaredAssignment = 2,
    NoTruthiness = 3,
    NoNumberForm = 4,
    NoStringForm = 5,
    PropertyWriteOnNothing = 6,
    MethodOnNothing = 7,
    ReduceOfEmptyArray = 8,
    WrongArgumentCount = 9,
    WrongArgumentKind = 10,
    InvalidArrayLength = 11,
    InvalidEntityType = 12,
    UnsupportedObject = 13,
    StatementWithoutName = 14,
    ModuleCreationFailed = 15,
    NotIterable = 16,
    NotAFunction = 17,
    InstructionLimitReached = 18,
    // Guards of this implementation: evaluation nested deeper than the C++
    // stack allows, and a text, an array, a run or a program past its cap.
    NestingTooDeep = 19,
    SizeLimitExceeded = 20,
};

// Errors of loading and running event-editing programs.
inline constexpr const char* kEditingErrorDomain = "com.vadova.vaz.measurement.pixie.editing.ErrorDomain";

enum class EditingErrorCode : long {
    MissingRuleType = 2,
    UnknownRuleType = 3,
    TooManyCallbacks = 4,
    ProgramEndsWithControlValue = 5,
    RuleIsNotAMap = 6,
    RuleFunctionMissing = 7,
};

using ErrorSlot = std::optional<APMError>;

APMError pixieError(PixieErrorCode code);

// Fills the slot and answers false, for `return fail(error, code)` in guards.
bool fail(ErrorSlot& error, PixieErrorCode code);

bool fail(ErrorSlot& error, EditingErrorCode code);

// True when the slot holds a pixie error with that code.
bool hasPixieCode(const ErrorSlot& error, PixieErrorCode code);

}  // namespace measurement::rules
