#pragma once
// The per-runtime state every scope of a runtime shares: the object manager
// that tracks the containers programs make, and the execution budget.

#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/ExecutionBudget.h"

namespace measurement::rules {

struct ExecutionContext {
    APMPObjectManager objectManager;
    ExecutionBudget budget;
};

}  // namespace measurement::rules
