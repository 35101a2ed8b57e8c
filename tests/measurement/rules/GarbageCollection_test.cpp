// Garbage collection: what is reachable survives with everything it needs,
// what is not is emptied and freed.

#include <gtest/gtest.h>

#include "ProgramText.h"
#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules::testing {
namespace {

// Stands in for the host's callback registry: a root holding functions.
class Registry final : public Collectable {
public:
    ValueList functions;
    void appendReferences(std::vector<const Collectable*>& out) const override {
        for (const ValuePtr& function : functions) out.push_back(function.get());
    }
};

ValuePtr evaluateIn(const ScopePtr& scope, std::string_view program) {
    ErrorSlot error;
    ValuePtr result = undefinedValue();
    for (const ValuePtr& statement : parseProgram(program)) {
        result = APMPEvaluator::evaluateStatement(statement, scope, error);
    }
    EXPECT_FALSE(error) << program;
    return result;
}

std::string call(const ValuePtr& function, ValueList arguments = {}) {
    ErrorSlot error;
    const ValuePtr result = static_cast<APMPFunctionValue&>(*function).invokeWithEvaluatedArguments(arguments, error);
    return describeOutcome(result, error);
}

TEST(GarbageCollection, ClosuresKeepTheScopesAroundThemAcrossCollections) {
    APMPRuntime runtime;
    auto registry = std::make_shared<Registry>();
    runtime.addGarbageCollectionRoot(registry);
    // A callback made in a block inside a function, using a map of the
    // function's scope and a variable of the block.
    registry->functions.push_back(evaluateIn(runtime.getRunScope(), R"~(
        (50 "setup" (7)
            (41 "secret") (3 "secret" (8 "v" 40))
            (53 (41 "local") (3 "local" 2)
                (36 (51 "callback" (7) (0 (16 (15 "secret") "v") (15 "local"))))))
        (setup))~"));
    runtime.collectGarbage();
    runtime.collectGarbage();
    EXPECT_EQ(call(registry->functions[0]), "42");
}

TEST(GarbageCollection, ClosuresMadeInLoopIterationsSurvive) {
    APMPRuntime runtime;
    auto registry = std::make_shared<Registry>();
    runtime.addGarbageCollectionRoot(registry);
    const ValuePtr made = evaluateIn(runtime.getRunScope(), R"~(
        (50 "make" (7)
            (41 "fs" "i" "labels") (3 "fs" (7)) (3 "i" 0) (3 "labels" (8 "a" "A" "b" "B"))
            (63 (7 "i") (23 (15 "i") 2) (3 "i" (0 (15 "i") 1))
                (46 (43 (15 "fs") (16 (15 "fs") "length") (51 "" (7) (7 "for" (15 "i"))))))
            (66 "k" (7 "a" "b")
                (46 (43 (15 "fs") (16 (15 "fs") "length") (51 "" (7) (7 (15 "k") (16 (15 "labels") (15 "k")))))))
            (36 (15 "fs")))
        (make))~");
    for (const ValuePtr& function : static_cast<APMPArrayValue&>(*made).allElements()) {
        registry->functions.push_back(function);
    }
    runtime.collectGarbage();
    runtime.collectGarbage();
    ASSERT_EQ(registry->functions.size(), 4u);
    EXPECT_EQ(call(registry->functions[0]), R"~(["for",0])~");
    EXPECT_EQ(call(registry->functions[1]), R"~(["for",1])~");
    EXPECT_EQ(call(registry->functions[2]), R"~(["a","A"])~");
    EXPECT_EQ(call(registry->functions[3]), R"~(["b","B"])~");
}

TEST(GarbageCollection, ModulesAndWhatProgramsAttachToThemSurvive) {
    APMPRuntime runtime;
    EXPECT_EQ(runProgram(runtime, R"~((43 (require "internal.platform") "helper" (51 "h" (7) (36 (8 "n" 5)))))~"),
              "function:h");
    runtime.collectGarbage();
    EXPECT_EQ(runProgram(runtime, R"~((2 (require "internal.platform") "helper" (7)))~"), "{n:5}");
}

TEST(GarbageCollection, GlobalFunctionsSurviveRepeatedCollections) {
    APMPRuntime runtime;
    EXPECT_EQ(runProgram(runtime, R"~((41 "total") (3 "total" (7 1 2))
        (50 "sum" (7) (36 (0 (16 (15 "total") 0) (16 (15 "total") 1)))))~"), "function:sum");
    for (int i = 0; i < 3; ++i) {
        runtime.collectGarbage();
        EXPECT_EQ(runProgram(runtime, "(sum)"), "3");
    }
}

TEST(GarbageCollection, UnreachableClosuresAndCyclesAreFreed) {
    APMPRuntime runtime;
    std::weak_ptr<APMPRuntimeValue> closure;
    std::weak_ptr<APMPRuntimeValue> selfMap;
    std::weak_ptr<APMPScope> runScope;
    {
        const ScopePtr scope = runtime.getRunScope();
        runScope = scope;
        closure = evaluateIn(scope, R"~((41 "f") (3 "f" (51 "" (7) (15 "f"))))~");
        selfMap = evaluateIn(scope, R"~((41 "m") (3 "m" (8)) (43 (15 "m") "self" (15 "m")) (15 "m"))~");
    }
    // The cycles keep them alive until a collection breaks them.
    EXPECT_FALSE(closure.expired());
    EXPECT_FALSE(selfMap.expired());
    const std::size_t trackedBefore = runtime.objectManager().trackedObjects().size();
    runtime.collectGarbage();
    EXPECT_TRUE(closure.expired());
    EXPECT_TRUE(selfMap.expired());
    EXPECT_TRUE(runScope.expired());
    EXPECT_LT(runtime.objectManager().trackedObjects().size(), trackedBefore);
}

TEST(GarbageCollection, DestroyingTheRuntimeFreesEverythingItMade) {
    std::weak_ptr<APMPRuntimeValue> closure;
    {
        APMPRuntime runtime;
        ErrorSlot error;
        closure = runtime.executeStatements(parseProgram(R"~((50 "f" (7) (f)) (15 "f"))~"), error);
        EXPECT_FALSE(closure.expired());
    }
    EXPECT_TRUE(closure.expired());
}

TEST(GarbageCollection, LongClosureChainsAreReleasedWithoutRecursion) {
    APMPRuntime runtime;
    // Each function keeps the previous one through the block scope it was
    // made in: a chain 40 000 closures long.
    EXPECT_EQ(runProgram(runtime, R"~((41 "f" "i") (3 "f" 0) (3 "i" 0)
        (42 (23 (15 "i") 40000) (3 "i" (0 (15 "i") 1)) false
            (46 (53 (41 "prev") (3 "prev" (15 "f")) (3 "f" (51 "" (7) (15 "prev"))))))
        (40 (15 "f")))~"), R"~("function")~");
    runtime.collectGarbage();
    runtime.resetInstructionCount();
    EXPECT_EQ(runProgram(runtime, R"~((3 "f" 0))~"), "0");
}

}  // namespace
}  // namespace measurement::rules::testing
