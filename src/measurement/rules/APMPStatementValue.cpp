#include "measurement/rules/APMPStatementValue.h"

#include "measurement/rules/CommandTable.h"

namespace measurement::rules {

APMPStatementValue::APMPStatementValue(std::u16string functionName, ValueList arguments)
    : APMPRuntimeValue(kKind),
      functionName_(std::move(functionName)),
      arguments_(std::move(arguments)),
      command_(findCommand(functionName_)) {}

// Program trees can be deep; take them apart without recursion.
APMPStatementValue::~APMPStatementValue() { releaseReferencesOf(*this); }

ValuePtr APMPStatementValue::make(std::u16string functionName, ValueList arguments) {
    return std::make_shared<APMPStatementValue>(std::move(functionName), std::move(arguments));
}

void APMPStatementValue::detachReferences(std::vector<CollectablePtr>& out) {
    for (ValuePtr& argument : arguments_) out.push_back(std::move(argument));
    arguments_.clear();
}

}  // namespace measurement::rules
