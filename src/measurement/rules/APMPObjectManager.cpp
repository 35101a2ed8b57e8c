#include "measurement/rules/APMPObjectManager.h"

#include <unordered_set>

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPScope.h"

namespace measurement::rules {
namespace {

// Everything reachable from `roots`, each object visited once.
std::unordered_set<const Collectable*> markFrom(const std::vector<std::weak_ptr<const Collectable>>& roots) {
    std::unordered_set<const Collectable*> marked;
    std::vector<const Collectable*> work;
    std::vector<std::shared_ptr<const Collectable>> liveRoots;
    for (const auto& weakRoot : roots) {
        if (auto root = weakRoot.lock()) {
            work.push_back(root.get());
            liveRoots.push_back(std::move(root));
        }
    }
    while (!work.empty()) {
        const Collectable* next = work.back();
        work.pop_back();
        if (!next || !marked.insert(next).second) continue;
        next->appendReferences(work);
    }
    return marked;
}

template <typename T>
std::shared_ptr<T> tracked(std::shared_ptr<T> value, const APMPScope& scope) {
    scope.objectManager().addObject(value);
    return value;
}

}  // namespace

void APMPObjectManager::addRoot(const std::shared_ptr<const Collectable>& root) {
    if (root) roots_.push_back(root);
}

void APMPObjectManager::addObject(const ValuePtr& object) {
    if (object) objects_.push_back(object);
}

void APMPObjectManager::collectGarbage() { sweep(markFrom(roots_)); }

void APMPObjectManager::releaseAll() { sweep({}); }

void APMPObjectManager::sweep(const std::unordered_set<const Collectable*>& marked) {
    // Hold every tracked value while sweeping, so none dies mid-walk.
    ValueList alive;
    alive.reserve(objects_.size());
    for (const auto& weak : objects_) {
        if (ValuePtr value = weak.lock()) alive.push_back(std::move(value));
    }
    std::vector<CollectablePtr> released;
    for (const ValuePtr& value : alive) {
        if (!marked.count(value.get())) value->detachReferences(released);
    }
    for (ValuePtr& value : alive) released.push_back(std::move(value));
    releaseIteratively(std::move(released));

    std::erase_if(objects_, [](const auto& weak) { return weak.expired(); });
    std::erase_if(roots_, [](const auto& weak) { return weak.expired(); });
}

std::size_t APMPObjectManager::rootCount() const {
    std::size_t count = 0;
    for (const auto& weak : roots_) count += weak.expired() ? 0 : 1;
    return count;
}

ValueList APMPObjectManager::trackedObjects() const {
    ValueList alive;
    for (const auto& weak : objects_) {
        if (ValuePtr value = weak.lock()) alive.push_back(std::move(value));
    }
    return alive;
}

std::shared_ptr<APMPFunctionValue> APMPObjectManager::functionValue(
    std::u16string functionName, std::vector<std::u16string> parameterNames, ValueList statements,
    const ScopePtr& definingScope) {
    const APMPScope& scope = *definingScope;
    return tracked(std::make_shared<APMPFunctionValue>(std::move(functionName), std::move(parameterNames),
                                                       std::move(statements), definingScope),
                   scope);
}

std::shared_ptr<APMPMapValue> APMPObjectManager::mapValueWithScope(const APMPScope& scope) {
    return tracked(std::make_shared<APMPMapValue>(), scope);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithScope(const APMPScope& scope) {
    return tracked(std::make_shared<APMPArrayValue>(), scope);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithArray(ValueList slots,
                                                                       const APMPScope& scope) {
    return tracked(std::make_shared<APMPArrayValue>(std::move(slots)), scope);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::subarrayWithArray(const APMPArrayValue& array,
                                                                     std::size_t location,
                                                                     std::size_t length,
                                                                     const APMPScope& scope) {
    return tracked(array.subarrayWithRange(location, length), scope);
}

}  // namespace measurement::rules
