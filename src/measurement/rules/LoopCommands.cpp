// Loop opcodes: for with per-iteration bindings (63), while and do-while
// (42), for-in (47, 54, 55) and for-of (64, 65, 66). A break ends the loop
// with undefined; a return ends it and travels on; continue goes on.

#include <functional>

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/CommandTable.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

// What a loop does after its body ran once.
enum class LoopStep { Next, Stop };

// Runs the body; on a break, a return or an error the loop stops, and
// `result` holds the loop's value (the return value, else undefined).
LoopStep runLoopBody(const ValueList& body, const ScopePtr& scope, ErrorSlot& error, ValuePtr& result) {
    const ValuePtr value = APMPEvaluator::executeStatements(body, scope, error);
    if (error) {
        result = undefinedValue();
        return LoopStep::Stop;
    }
    if (const auto* control = valueAs<APMPControlValue>(value)) {
        if (control->type() == ControlType::Break) {
            result = undefinedValue();
            return LoopStep::Stop;
        }
        if (control->type() == ControlType::Return) {
            result = value;
            return LoopStep::Stop;
        }
    }
    return LoopStep::Next;
}

bool truthOf(const ValuePtr& statement, const ScopePtr& scope, ErrorSlot& error) {
    const ValuePtr value = APMPEvaluator::evaluateStatement(statement, scope, error);
    if (error) return false;
    return value->booleanValueOrError(error);
}

// The statements of a body argument: it must evaluate to an array (code 10).
[[nodiscard]] bool bodyStatements(const ValuePtr& statement, const ScopePtr& scope, ErrorSlot& error, ValueList& body) {
    const ValuePtr value = APMPEvaluator::evaluateStatement(statement, scope, error);
    if (error) return false;
    const auto* list = valueAs<APMPArrayValue>(value);
    if (!list) return fail(error, PixieErrorCode::WrongArgumentKind);
    body = list->allElements();
    return true;
}

ValuePtr forWithBindings(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 4, error)) return undefinedValue();
    ValueList nameValues;
    ValueList body;
    if (!bodyStatements(args[0], scope, error, nameValues)) return undefinedValue();
    std::vector<std::u16string> names;
    for (const ValuePtr& name : nameValues) {
        names.push_back(name->stringValueOrError(error));
        if (error) return undefinedValue();
    }
    if (!bodyStatements(args[3], scope, error, body)) return undefinedValue();

    // Each iteration gets fresh copies of the loop variables, so closures
    // made in an iteration keep that iteration's values.
    const auto nextIteration = [&](const APMPScope& from) {
        ScopePtr iteration = scope->createChildScope();
        for (const std::u16string& name : names) iteration->addValue(from.valueForName(name), name);
        return iteration;
    };
    ScopePtr iteration = nextIteration(*scope);
    ValuePtr result = undefinedValue();
    while (true) {
        const bool go = truthOf(args[1], iteration, error);
        if (error) return undefinedValue();
        if (!go || runLoopBody(body, iteration, error, result) == LoopStep::Stop) break;
        iteration = nextIteration(*iteration);
        APMPEvaluator::evaluateStatement(args[2], iteration, error);
        if (error) return undefinedValue();
    }
    return error ? undefinedValue() : result;
}

ValuePtr whileLoop(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 4, error)) return undefinedValue();
    const bool runFirst = truthOf(args[2], scope, error);
    if (error) return undefinedValue();
    ValueList body;
    if (!bodyStatements(args[3], scope, error, body)) return undefinedValue();

    ValuePtr result = undefinedValue();
    if (runFirst && runLoopBody(body, scope, error, result) == LoopStep::Stop) {
        return error ? undefinedValue() : result;
    }
    while (true) {
        const bool go = truthOf(args[0], scope, error);
        if (error) return undefinedValue();
        if (!go || runLoopBody(body, scope, error, result) == LoopStep::Stop) break;
        APMPEvaluator::evaluateStatement(args[1], scope, error);
        if (error) return undefinedValue();
    }
    return error ? undefinedValue() : result;
}

// How each for-in and for-of opcode binds its variable.
enum class Binding { Existing, FreshConstant, FreshVariable };

// The keys or items to walk: a count and a way to make item i, so that a
// long string is walked without building every piece up front.
struct Walk {
    std::size_t count = 0;
    std::function<ValuePtr(std::size_t)> item;
};

Walk stringWalk(const ValuePtr& subject, bool keys) {
    const auto text = sharedValueAs<APMPStringValue>(subject);
    return {text->value().size(), [text, keys](std::size_t i) {
                return keys ? APMPStringValue::make(numberToString(static_cast<double>(i)))
                            : APMPStringValue::make(std::u16string(1, text->value()[i]));
            }};
}

Walk listWalk(ValueList items) {
    auto shared = std::make_shared<const ValueList>(std::move(items));
    return {shared->size(), [shared](std::size_t i) { return (*shared)[i]; }};
}

ValueList namesAsValues(const std::vector<std::u16string>& names) {
    ValueList values;
    values.reserve(names.size());
    for (const std::u16string& name : names) values.push_back(APMPStringValue::make(name));
    return values;
}

// for-in: the indexes of a string, the property names of an array, map or
// function, nothing for anything else.
[[nodiscard]] bool keysOf(const ValuePtr& subject, Walk& walk, ErrorSlot&) {
    switch (subject->kind()) {
        case ValueKind::String:
            walk = stringWalk(subject, true);
            break;
        case ValueKind::Array:
            walk = listWalk(namesAsValues(static_cast<APMPArrayValue&>(*subject).allPropertyNames()));
            break;
        case ValueKind::Map:
            walk = listWalk(namesAsValues(static_cast<APMPMapValue&>(*subject).allPropertyNames()));
            break;
        case ValueKind::Function:
            walk = listWalk(namesAsValues(static_cast<APMPFunctionValue&>(*subject).allPropertyNames()));
            break;
        default:
            break;
    }
    return true;
}

// for-of: the code units of a string, the elements of an array; anything
// else fails with code 16.
[[nodiscard]] bool itemsOf(const ValuePtr& subject, Walk& walk, ErrorSlot& error) {
    switch (subject->kind()) {
        case ValueKind::String:
            walk = stringWalk(subject, false);
            return true;
        case ValueKind::Array:
            walk = listWalk(static_cast<APMPArrayValue&>(*subject).allElements());
            return true;
        default:
            return fail(error, PixieErrorCode::NotIterable);
    }
}

ValuePtr walkLoop(const ValueList& args, const ScopePtr& scope, ErrorSlot& error, Binding binding,
                  bool (*walkOf)(const ValuePtr&, Walk&, ErrorSlot&)) {
    if (!checkArgumentCount(args, 3, error)) return undefinedValue();
    const ValueList values = evaluateArguments(args, scope, error);
    if (error) return undefinedValue();
    const std::u16string name = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    const auto* bodyList = valueAs<APMPArrayValue>(values[2]);
    if (!bodyList) {
        fail(error, PixieErrorCode::WrongArgumentKind);
        return undefinedValue();
    }
    const ValueList body = bodyList->allElements();
    Walk walk;
    if (!walkOf(values[1], walk, error)) return undefinedValue();

    ValuePtr result = undefinedValue();
    for (std::size_t i = 0; i < walk.count; ++i) {
        ScopePtr iteration = scope;
        if (binding == Binding::Existing) {
            scope->setValue(walk.item(i), name);
        } else {
            iteration = scope->createChildScope();
            if (binding == Binding::FreshConstant) {
                iteration->addImmutableValue(walk.item(i), name);
            } else {
                iteration->addValue(walk.item(i), name);
            }
        }
        if (runLoopBody(body, iteration, error, result) == LoopStep::Stop) break;
    }
    return error ? undefinedValue() : result;
}

ValuePtr forInExisting(const ValueList& a, const ScopePtr& s, ErrorSlot& e) {
    return walkLoop(a, s, e, Binding::Existing, keysOf);
}
ValuePtr forInConstant(const ValueList& a, const ScopePtr& s, ErrorSlot& e) {
    return walkLoop(a, s, e, Binding::FreshConstant, keysOf);
}
ValuePtr forInVariable(const ValueList& a, const ScopePtr& s, ErrorSlot& e) {
    return walkLoop(a, s, e, Binding::FreshVariable, keysOf);
}
ValuePtr forOfExisting(const ValueList& a, const ScopePtr& s, ErrorSlot& e) {
    return walkLoop(a, s, e, Binding::Existing, itemsOf);
}
ValuePtr forOfConstant(const ValueList& a, const ScopePtr& s, ErrorSlot& e) {
    return walkLoop(a, s, e, Binding::FreshConstant, itemsOf);
}
ValuePtr forOfVariable(const ValueList& a, const ScopePtr& s, ErrorSlot& e) {
    return walkLoop(a, s, e, Binding::FreshVariable, itemsOf);
}

constexpr auto U = ArgumentPolicy::Unevaluated;
constexpr CommandHandler kLoop[] = {
    {u"47", U, forInExisting}, {u"54", U, forInConstant}, {u"55", U, forInVariable},
    {u"63", U, forWithBindings}, {u"64", U, forOfExisting}, {u"65", U, forOfConstant},
    {u"66", U, forOfVariable}, {u"42", U, whileLoop},
};

}  // namespace

std::span<const CommandHandler> loopCommands() { return kLoop; }

}  // namespace measurement::rules
