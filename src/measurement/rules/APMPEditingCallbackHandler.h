#pragma once
// The callbacks programs register, one registry per rule type ("edit",
// "create"), each ordered by ascending priority. A priority already taken
// in a registry becomes that registry's largest plus one. At most 1000
// callbacks in all (code 4 of the editing domain).
//
// Running them on one event: edit callbacks first, each with the event
// functions object as its one argument; one that fails restores the output
// event as it was before it and ends the run with its error; one that
// returns anything but a number, or a number whose ToInt32 is 2 or -1, has
// its edits dropped. Create callbacks follow; the first error ends the run.
// The callbacks of a run are those registered when it began.
//
// The handler is a root of the runtime's collector: it keeps its functions.

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>

#include "measurement/rules/APMPEventContext.h"
#include "measurement/rules/APMPFunctionValue.h"

namespace measurement::rules {

inline constexpr std::size_t kMaxEditingCallbacks = 1000;

class APMPEditingCallbackHandler final : public Collectable {
public:
    // Priorities are 32-bit program values; a bumped priority may pass the
    // 32-bit range, so the registries count in 64 bits.
    using Registry = std::map<std::int64_t, std::shared_ptr<APMPFunctionValue>>;

    [[nodiscard]]
    bool registerWithPriority(std::int32_t priority, std::shared_ptr<APMPFunctionValue> callback,
                              std::u16string_view ruleType, ErrorSlot& error);
    [[nodiscard]]
    bool triggerCallbacksWithScope(const ScopePtr& scope, const std::shared_ptr<APMPEventContext>& context,
                                   ErrorSlot& error);
    // 2 when the callback failed, ToInt32 of a number result, else -1.
    static std::int32_t invokeCallbackWithScope(const ScopePtr& scope, APMPFunctionValue& function,
                                                const ValuePtr& eventHandler, ErrorSlot& error);

    const Registry& editCallbacks() const { return editCallbacks_; }
    const Registry& createCallbacks() const { return createCallbacks_; }

    void appendReferences(std::vector<const Collectable*>& out) const override;

private:
    static void addCallback(std::shared_ptr<APMPFunctionValue> callback, Registry& registry, std::int64_t priority);

    Registry editCallbacks_;
    Registry createCallbacks_;
};

}  // namespace measurement::rules
