// Variable and property opcodes: assignment, declarations (constant and
// plain), reads, array and object literals, property read and write, type
// names and the undefined and null literals. All arguments arrive evaluated.

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/CommandTable.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/ValueIndex.h"

namespace measurement::rules {
namespace {

// A variable name: only a string value will do (code 10).
const std::u16string* variableName(const ValuePtr& value, ErrorSlot& error) {
    const auto* name = valueAs<APMPStringValue>(value);
    if (!name) {
        fail(error, PixieErrorCode::WrongArgumentKind);
        return nullptr;
    }
    return &name->value();
}

ValuePtr assign(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 2, error)) return undefinedValue();
    const std::u16string* name = variableName(args[0], error);
    if (!name) return undefinedValue();
    if (!scope->hasName(*name)) {
        fail(error, PixieErrorCode::UndeclaredAssignment);
        return undefinedValue();
    }
    scope->setValue(args[1], *name);
    return args[1];
}

ValuePtr declareConstants(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (args.size() % 2 != 0) {
        fail(error, PixieErrorCode::WrongArgumentCount);
        return undefinedValue();
    }
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const std::u16string* name = variableName(args[i], error);
        if (!name) return undefinedValue();
        scope->addImmutableValue(args[i + 1], *name);
    }
    return undefinedValue();
}

ValuePtr declareVariables(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    for (const ValuePtr& arg : args) {
        const std::u16string* name = variableName(arg, error);
        if (!name) return undefinedValue();
        scope->addValue(undefinedValue(), *name);
    }
    return undefinedValue();
}

ValuePtr readVariable(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 1, error)) return undefinedValue();
    const std::u16string* name = variableName(args[0], error);
    if (!name) return undefinedValue();
    return scope->valueForName(*name);
}

ValuePtr arrayLiteral(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!scope->budget().chargeArraySlots(args.size(), error)) return undefinedValue();
    return APMPObjectManager::arrayValueWithArray(args, *scope);
}

ValuePtr objectLiteral(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (args.size() % 2 != 0) {
        fail(error, PixieErrorCode::WrongArgumentCount);
        return undefinedValue();
    }
    const auto map = APMPObjectManager::mapValueWithScope(*scope);
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const std::u16string key = args[i]->stringValueOrError(error);
        if (error) return undefinedValue();
        map->setValue(args[i + 1], key);
    }
    return map;
}

ValuePtr readStringProperty(const APMPStringValue& text, const APMPRuntimeValue& key, ErrorSlot& error) {
    const std::u16string name = key.stringValueOrError(error);
    if (error) return undefinedValue();
    if (name == u"length") return APMPNumberValue::make(static_cast<double>(text.value().size()));
    const std::optional<std::size_t> index = indexFromKey(key);
    if (!index || *index >= text.value().size()) return undefinedValue();
    return APMPStringValue::make(std::u16string(1, text.value()[*index]));
}

ValuePtr readProperty(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 2, error)) return undefinedValue();
    const ValuePtr& object = args[0];
    const APMPRuntimeValue& key = *args[1];
    switch (object->kind()) {
        case ValueKind::Array:
            return static_cast<APMPArrayValue&>(*object).valueForProperty(key, error);
        case ValueKind::Map:
        case ValueKind::Function: {
            const std::u16string name = key.stringValueOrError(error);
            if (error) return undefinedValue();
            return object->kind() == ValueKind::Map
                       ? static_cast<APMPMapValue&>(*object).valueForProperty(name)
                       : static_cast<APMPFunctionValue&>(*object).valueForProperty(name);
        }
        case ValueKind::String:
            return readStringProperty(static_cast<APMPStringValue&>(*object), key, error);
        default:
            return undefinedValue();
    }
}

ValuePtr writeProperty(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 3, error)) return undefinedValue();
    const ValuePtr& object = args[0];
    const APMPRuntimeValue& key = *args[1];
    const ValuePtr& value = args[2];
    switch (object->kind()) {
        case ValueKind::Undefined:
        case ValueKind::Null:
            fail(error, PixieErrorCode::PropertyWriteOnNothing);
            return undefinedValue();
        case ValueKind::Array: {
            auto& array = static_cast<APMPArrayValue&>(*object);
            const std::size_t before = array.count();
            if (!array.setValueForProperty(value, key, error)) return undefinedValue();
            if (array.count() > before && !scope->budget().chargeArraySlots(array.count() - before, error)) {
                return undefinedValue();
            }
            return value;
        }
        case ValueKind::Map:
        case ValueKind::Function: {
            const std::u16string name = key.stringValueOrError(error);
            if (error) return undefinedValue();
            if (object->kind() == ValueKind::Map) {
                static_cast<APMPMapValue&>(*object).setValue(value, name);
            } else {
                static_cast<APMPFunctionValue&>(*object).setValue(value, name);
            }
            return value;
        }
        default:
            return value;
    }
}

ValuePtr typeName(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 1, error)) return undefinedValue();
    switch (args[0]->kind()) {
        case ValueKind::Boolean: return APMPStringValue::make(u"boolean");
        case ValueKind::Function: return APMPStringValue::make(u"function");
        case ValueKind::Number: return APMPStringValue::make(u"number");
        case ValueKind::String: return APMPStringValue::make(u"string");
        case ValueKind::Undefined: return APMPStringValue::make(u"undefined");
        default: return APMPStringValue::make(u"object");
    }
}

ValuePtr undefinedLiteral(const ValueList&, const ScopePtr&, ErrorSlot&) { return undefinedValue(); }

ValuePtr nullLiteral(const ValueList&, const ScopePtr&, ErrorSlot&) { return nullValue(); }

constexpr auto E = ArgumentPolicy::Evaluated;
constexpr CommandHandler kVariable[] = {
    {u"3", E, assign},         {u"52", E, declareConstants}, {u"7", E, arrayLiteral},
    {u"8", E, objectLiteral},  {u"15", E, readVariable},     {u"16", E, readProperty},
    {u"17", E, readProperty},  {u"45", E, nullLiteral},      {u"43", E, writeProperty},
    {u"40", E, typeName},      {u"44", E, undefinedLiteral}, {u"41", E, declareVariables},
};

}  // namespace

std::span<const CommandHandler> variableCommands() { return kVariable; }

}  // namespace measurement::rules
