#pragma once
// The markers that end a statement list early: break, continue (one shared
// instance each) and return (a new instance carrying its data, undefined
// when none). Loops, switch and function calls consume them.

#include <string>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

enum class ControlType { Break, Continue, Return };

class APMPControlValue final : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Control;

    static const ValuePtr& breakValue();
    static const ValuePtr& continueValue();
    static ValuePtr returnValueWithData(ValuePtr data);

    APMPControlValue(ControlType type, ValuePtr data);
    ~APMPControlValue() override;

    ControlType type() const { return type_; }
    // "break", "continue" or "return".
    std::u16string typeName() const;
    const ValuePtr& data() const { return data_; }

    void appendReferences(std::vector<const Collectable*>& out) const override;
    void detachReferences(std::vector<CollectablePtr>& out) override;

private:
    ControlType type_;
    ValuePtr data_;
};

bool isControlValue(const ValuePtr& value);

}  // namespace measurement::rules
