#include "measurement/rules/APMPControlValue.h"

#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

APMPControlValue::APMPControlValue(ControlType type, ValuePtr data)
    : APMPRuntimeValue(kKind), type_(type), data_(data ? std::move(data) : undefinedValue()) {}

APMPControlValue::~APMPControlValue() { releaseReferencesOf(*this); }

const ValuePtr& APMPControlValue::breakValue() {
    static const ValuePtr instance = std::make_shared<APMPControlValue>(ControlType::Break, nullptr);
    return instance;
}

const ValuePtr& APMPControlValue::continueValue() {
    static const ValuePtr instance = std::make_shared<APMPControlValue>(ControlType::Continue, nullptr);
    return instance;
}

ValuePtr APMPControlValue::returnValueWithData(ValuePtr data) {
    return std::make_shared<APMPControlValue>(ControlType::Return, std::move(data));
}

std::u16string APMPControlValue::typeName() const {
    switch (type_) {
        case ControlType::Break: return u"break";
        case ControlType::Continue: return u"continue";
        case ControlType::Return: return u"return";
    }
    return {};
}

void APMPControlValue::appendReferences(std::vector<const Collectable*>& out) const {
    out.push_back(data_.get());
}

void APMPControlValue::detachReferences(std::vector<CollectablePtr>& out) {
    if (data_) out.push_back(std::move(data_));
}

bool isControlValue(const ValuePtr& value) { return value && value->kind() == ValueKind::Control; }

}  // namespace measurement::rules
