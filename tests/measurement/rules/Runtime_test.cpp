// The runtime: scopes, run scopes, modules through "require", and the
// instruction limit.

#include <gtest/gtest.h>

#include "ProgramText.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules::testing {
namespace {

TEST(RuntimeModules, RequireCachesWhatTheCreatorMakes) {
    APMPRuntime runtime;
    int made = 0;
    runtime.setModuleCreator([&made] {
        ++made;
        return std::make_shared<APMPMapValue>();
    }, u"test.module");
    EXPECT_EQ(runProgram(runtime, R"~((20 (require "test.module") (require "test.module")))~"), "true");
    EXPECT_EQ(made, 1);
    EXPECT_EQ(runProgram(runtime, R"~((2 (require "internal.platform") "getVersion" (7)))~"), "0");
    EXPECT_EQ(APMPRuntime::runtimeVersion(), 0);
    EXPECT_EQ(runProgram(runtime, R"~((41 "p") (3 "p" (require "internal.platform")) (p))~"), "undefined");
    EXPECT_EQ(runProgram(runtime, R"~((require))~"), "error 9");
    EXPECT_EQ(runProgram(runtime, R"~((require "a" "b"))~"), "error 9");
}

TEST(RuntimeModules, UnknownNamesStayUndefinedAndFailedCreationsAreRetried) {
    APMPRuntime runtime;
    EXPECT_EQ(runProgram(runtime, R"~((require "late"))~"), "undefined");
    runtime.setModuleCreator([] { return std::make_shared<APMPMapValue>(); }, u"late");
    EXPECT_EQ(runProgram(runtime, R"~((require "late"))~"), "undefined");
    EXPECT_EQ(runProgram(runtime, R"~((2 (require "late") "toString" (7)))~"), "error 7");

    int attempts = 0;
    runtime.setModuleCreator([&attempts]() -> ValuePtr {
        return ++attempts == 1 ? nullptr : std::make_shared<APMPMapValue>();
    }, u"flaky");
    EXPECT_EQ(runProgram(runtime, R"~((require "flaky"))~"), "error 15");
    EXPECT_EQ(runProgram(runtime, R"~((require "flaky"))~"), "{}");
    EXPECT_EQ(attempts, 2);
}

TEST(RuntimeScopes, RunScopesAreFreshChildrenOfTheGlobalScope) {
    APMPRuntime runtime;
    const ScopePtr first = runtime.getRunScope();
    const ScopePtr second = runtime.getRunScope();
    EXPECT_NE(first, second);
    EXPECT_EQ(first->parentScope(), runtime.globalScope());
    EXPECT_EQ(runtime.globalScope()->parentScope(), runtime.initialScope());
    first->addValue(APMPNumberValue::make(1), u"local");
    EXPECT_FALSE(second->hasName(u"local"));
    EXPECT_TRUE(first->hasName(u"require"));
}

TEST(RuntimeScopes, ImmutableScopesRefuseWritesOnTheirWay) {
    APMPRuntime runtime;
    const ScopePtr outer = runtime.getRunScope();
    outer->addValue(APMPNumberValue::make(1), u"x");
    const ScopePtr middle = outer->createChildScope();
    const ScopePtr inner = middle->createChildScope();
    middle->makeImmutable();
    inner->setValue(APMPNumberValue::make(2), u"x");
    EXPECT_EQ(describe(outer->valueForName(u"x")), "1");
    middle->addValue(APMPNumberValue::make(3), u"y");
    EXPECT_FALSE(middle->hasName(u"y"));
    inner->setValue(APMPNumberValue::make(4), u"y");
    EXPECT_EQ(describe(inner->valueForName(u"y")), "4");
}

TEST(InstructionLimit, EveryEvaluationCounts) {
    APMPRuntime runtime;
    EXPECT_EQ(runtime.getInstructionCount(), 0);
    EXPECT_EQ(runProgram(runtime, R"~((0 1 2))~"), "3");
    EXPECT_EQ(runtime.getInstructionCount(), 3);
    EXPECT_EQ(runProgram(runtime, R"~(1 "a" true)~"), "true");
    EXPECT_EQ(runtime.getInstructionCount(), 6);
    runtime.resetInstructionCount();
    EXPECT_EQ(runtime.getInstructionCount(), 0);
}

TEST(InstructionLimit, TheMillionthEvaluationSucceedsAndTheNextFails) {
    APMPRuntime runtime;
    const ValueList exactlyTheLimit(static_cast<std::size_t>(kMaxInstructions), APMPNumberValue::make(7));
    ErrorSlot error;
    EXPECT_EQ(describe(runtime.executeStatements(exactlyTheLimit, error)), "7");
    EXPECT_FALSE(error);
    EXPECT_EQ(runtime.getInstructionCount(), kMaxInstructions);

    runtime.executeStatements({APMPNumberValue::make(8)}, error);
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::InstructionLimitReached));
    EXPECT_EQ(runtime.getInstructionCount(), kMaxInstructions);

    runtime.resetInstructionCount();
    error.reset();
    EXPECT_EQ(describe(runtime.executeStatements({APMPNumberValue::make(9)}, error)), "9");
    EXPECT_FALSE(error);
}

TEST(InstructionLimit, EndsLoopsThatNeverEnd) {
    expectPrograms({
        {R"~((42 true 0 false (46)))~", "error 18"},
        {R"~((41 "x") (63 (7 "x") true 0 (46)))~", "error 18"},
    });
}

TEST(InstructionLimit, ProgramsCannotSeeResetOrShadowTheCounter) {
    APMPRuntime runtime;
    EXPECT_EQ(runProgram(runtime, R"~((15 "runtime.counter"))~"), "undefined");
    // Resetting a binding of that name in a loop does not extend the budget.
    EXPECT_EQ(runProgram(runtime, R"~((41 "runtime.counter")
        (42 true 0 false (46 (3 "runtime.counter" 0))))~"), "error 18");
    runtime.resetInstructionCount();
    // Shadowing it globally does not break later runs.
    EXPECT_EQ(runProgram(runtime, R"~((41 "runtime.counter") (3 "runtime.counter" "x"))~"), R"~("x")~");
    runtime.resetInstructionCount();
    EXPECT_EQ(runProgram(runtime, R"~((0 1 2))~"), "3");
    EXPECT_EQ(runtime.getInstructionCount(), 3);
}

}  // namespace
}  // namespace measurement::rules::testing
