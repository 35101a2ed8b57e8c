#pragma once
// A function value: a name (empty when anonymous), parameter names, a body of
// unevaluated statements and the scope it was made in (its closure), plus
// properties of its own (module objects keep their functions there).
//
// Invoking evaluates the arguments in the caller's scope, binds them to the
// parameters (undefined for missing ones) in a new child of the defining
// scope, and runs the body: the data of a return, else the value of the
// last statement. Native functions override invokeWithArguments and are made
// without body or scope.
//
// String form: the name; number: NaN; truthiness: true. Equal to itself, or
// to another function with the same non-empty name.

#include <string>
#include <vector>

#include "measurement/rules/APMPPropertyMap.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPFunctionValue : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Function;

    APMPFunctionValue(std::u16string functionName, std::vector<std::u16string> parameterNames,
                      ValueList statements, ScopePtr definingScope);
    // A native function: no parameters, body or scope.
    explicit APMPFunctionValue(std::u16string functionName);
    ~APMPFunctionValue() override;

    const std::u16string& functionName() const { return functionName_; }
    const std::vector<std::u16string>& parameterNames() const { return parameterNames_; }
    // Empty once the collector has swept the function.
    const ValueList& statements() const;
    const ScopePtr& definingScope() const { return definingScope_; }

    virtual ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope,
                                         ErrorSlot& error);
    ValuePtr invokeWithEvaluatedArguments(const ValueList& arguments, ErrorSlot& error);

    // Own property holding a function, then "hasOwnProperty", then the
    // methods every value has.
    ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments,
                           const ScopePtr& scope, ErrorSlot& error) override;

    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;

    bool hasProperty(std::u16string_view name) const { return properties_.hasName(name); }
    const ValuePtr& valueForProperty(std::u16string_view name) const {
        return properties_.valueForName(name);
    }
    void setValue(ValuePtr value, std::u16string_view name) { properties_.setValue(std::move(value), name); }
    void removeValueForProperty(std::u16string_view name) { properties_.removeValueForName(name); }
    std::vector<std::u16string> allPropertyNames() const { return properties_.allNames(); }

    void appendReferences(std::vector<const Collectable*>& out) const override;
    // Sweeping an unreachable function drops its body, scope and properties;
    // it keeps its name and parameter names.
    void detachReferences(std::vector<CollectablePtr>& out) override;

private:
    std::u16string functionName_;
    std::vector<std::u16string> parameterNames_;
    std::shared_ptr<const ValueList> body_;
    ScopePtr definingScope_;
    APMPPropertyMap properties_;
};

}  // namespace measurement::rules
