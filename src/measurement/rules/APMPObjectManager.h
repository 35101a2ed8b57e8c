#pragma once
// The rule engine's mark-and-sweep collector. Every function, map and array
// a program makes is created here and tracked weakly. A collection marks
// everything reachable from the roots (held weakly: the runtime's scopes,
// the host's callback registry), walking each object once with an explicit
// work list; it then empties every tracked container that was not reached,
// which breaks the reference cycles that keep them alive, and releases what
// they held without recursion.

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPArrayValue;
class APMPFunctionValue;
class APMPMapValue;

class APMPObjectManager {
public:
    void addRoot(const std::shared_ptr<const Collectable>& root);
    void addObject(const ValuePtr& object);

    void collectGarbage();
    // Empties every tracked container, reachable or not: the end of a runtime.
    void releaseAll();

    std::size_t rootCount() const;
    // The tracked values still alive.
    ValueList trackedObjects() const;

    // Factories: a new value, tracked by the object manager of `scope`.
    static std::shared_ptr<APMPFunctionValue> functionValue(std::u16string functionName,
                                                            std::vector<std::u16string> parameterNames,
                                                            ValueList statements,
                                                            const ScopePtr& definingScope);
    static std::shared_ptr<APMPMapValue> mapValueWithScope(const APMPScope& scope);
    static std::shared_ptr<APMPArrayValue> arrayValueWithScope(const APMPScope& scope);
    static std::shared_ptr<APMPArrayValue> arrayValueWithArray(ValueList slots, const APMPScope& scope);
    static std::shared_ptr<APMPArrayValue> subarrayWithArray(const APMPArrayValue& array,
                                                             std::size_t location, std::size_t length,
                                                             const APMPScope& scope);

private:
    void sweep(const std::unordered_set<const Collectable*>& marked);

    std::vector<std::weak_ptr<const Collectable>> roots_;
    std::vector<std::weak_ptr<APMPRuntimeValue>> objects_;
};

}  // namespace measurement::rules
