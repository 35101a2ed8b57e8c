#pragma once
// One node of a program: a function name (an opcode written in decimal, or
// the name of a function in scope) and its arguments, literals or nested
// statements. Statements are evaluated by APMPEvaluator; as values they
// only pass through (argument lists of control commands).

#include <string>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

struct CommandHandler;

class APMPStatementValue final : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Statement;
    static ValuePtr make(std::u16string functionName, ValueList arguments);

    APMPStatementValue(std::u16string functionName, ValueList arguments);
    ~APMPStatementValue() override;

    const std::u16string& functionName() const { return functionName_; }
    const ValueList& arguments() const { return arguments_; }
    // The opcode's handler, resolved once; null for a function name.
    const CommandHandler* command() const { return command_; }

    void detachReferences(std::vector<CollectablePtr>& out) override;

private:
    std::u16string functionName_;
    ValueList arguments_;
    const CommandHandler* command_;
};

}  // namespace measurement::rules
