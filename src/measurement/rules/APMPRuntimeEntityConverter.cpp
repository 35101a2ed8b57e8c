#include "measurement/rules/APMPRuntimeEntityConverter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageInfo.h"
#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/APMPStatementValue.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

using platform::PropertyValue;

// Field slots of RuntimeEntity.
enum EntitySlot { kType = 0, kArguments = 1, kFunctionName = 2, kString = 3, kBoolean = 4, kNumber = 5 };
enum EntityType { kStringEntity = 1, kNumberEntity = 2, kBooleanEntity = 3, kStatementEntity = 4 };

// --- Program entities -------------------------------------------------------

ValuePtr fromEntity(const APMPBRuntimeEntity& entity, int depth, ErrorSlot& error);

ValuePtr statementFromEntity(const APMPBRuntimeEntity& entity, int depth, ErrorSlot& error) {
    const std::optional<std::string> name = APMPBGetString(entity, kFunctionName);
    if (!name) {
        fail(error, PixieErrorCode::StatementWithoutName);
        return undefinedValue();
    }
    ValueList arguments;
    if (const std::optional<APMPBArray> entities = APMPBGetArray<APMPBRuntimeEntity>(entity, kArguments)) {
        arguments.reserve(entities->size());
        for (const APMPBObject& object : *entities) {
            const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&object);
            if (!message || !*message) continue;
            arguments.push_back(fromEntity(static_cast<const APMPBRuntimeEntity&>(**message), depth + 1, error));
            if (error) return undefinedValue();
        }
    }
    return APMPStatementValue::make(utf16FromUtf8(*name), std::move(arguments));
}

ValuePtr fromEntity(const APMPBRuntimeEntity& entity, int depth, ErrorSlot& error) {
    if (depth >= kMaxNestingDepth) {
        fail(error, PixieErrorCode::NestingTooDeep);
        return undefinedValue();
    }
    const int type = APMPBHasField(entity, kType) ? APMPBGetInt32(entity, kType) : 0;
    switch (type) {
        case kStringEntity: return APMPRuntimeEntityConverter::stringValueFromRuntimeEntity(entity);
        case kNumberEntity: return APMPRuntimeEntityConverter::numberValueFromRuntimeEntity(entity);
        case kBooleanEntity: return APMPRuntimeEntityConverter::booleanValueFromRuntimeEntity(entity);
        case kStatementEntity: return statementFromEntity(entity, depth, error);
        default:
            fail(error, PixieErrorCode::InvalidEntityType);
            return undefinedValue();
    }
}

// --- Program size ----------------------------------------------------------------

// Field slots of Program, OgtActivities and OgtActivity.
enum { kProgramInstructions = 0, kProgramActivities = 1 };
enum { kActivitiesList = 0 };
enum { kActivityData = 1 };

// The items of a repeated slot of a record; none when the record is absent.
std::span<void* const> repeatedItems(const MessageInfo* record, int slot) {
    if (!record || !record->fields) return {};
    const auto* array = static_cast<const RepeatedArray*>(record->fields[slot]);
    if (!array || !array->items) return {};
    return {array->items, array->count};
}

const MessageInfo* childRecord(const MessageInfo* record, int slot) {
    if (!record || !record->fields) return nullptr;
    return static_cast<const MessageInfo*>(record->fields[slot]);
}

// --- Plain objects to runtime values -------------------------------------------

ValuePtr fromObject(const PropertyValue& object, const APMPScope& scope, int depth, ErrorSlot& error) {
    if (depth >= kMaxNestingDepth) {
        fail(error, PixieErrorCode::NestingTooDeep);
        return undefinedValue();
    }
    switch (object.kind()) {
        case PropertyValue::Kind::Boolean:
            return booleanValue(*object.asBoolean());
        case PropertyValue::Kind::Integer:
        case PropertyValue::Kind::Real:
            return APMPNumberValue::make(*object.asReal());
        case PropertyValue::Kind::String:
            return scope.budget().newString(utf16FromUtf8(*object.asString()), error);
        case PropertyValue::Kind::Dictionary: {
            const auto map = APMPObjectManager::mapValueWithScope(scope);
            for (const auto& [key, member] : *object.asDictionary()) {
                ValuePtr value = fromObject(member, scope, depth + 1, error);
                if (error) return undefinedValue();
                map->setValue(std::move(value), utf16FromUtf8(key));
            }
            return map;
        }
        case PropertyValue::Kind::Array: {
            const platform::PropertyArray& members = *object.asArray();
            if (!scope.budget().chargeArraySlots(members.size(), error)) return undefinedValue();
            ValueList slots;
            slots.reserve(members.size());
            for (const PropertyValue& member : members) {
                slots.push_back(fromObject(member, scope, depth + 1, error));
                if (error) return undefinedValue();
            }
            return APMPObjectManager::arrayValueWithArray(std::move(slots), scope);
        }
        case PropertyValue::Kind::Data:
        case PropertyValue::Kind::Date:
            break;
    }
    fail(error, PixieErrorCode::UnsupportedObject);
    return undefinedValue();
}

// --- Runtime values to plain objects -----------------------------------------------

// The containers being converted further up: one that recurs is left out
// instead of being converted for ever.
using Path = std::vector<const APMPRuntimeValue*>;

std::optional<PropertyValue> toObject(const APMPRuntimeValue& value, Path& path, ErrorSlot& error);

platform::PropertyDictionary mapToDictionary(const APMPMapValue& map, Path& path, ErrorSlot& error) {
    platform::PropertyDictionary dictionary;
    for (const std::u16string& name : map.allPropertyNames()) {
        std::optional<PropertyValue> member = toObject(*map.valueForProperty(name), path, error);
        if (error) break;
        if (member) dictionary.emplace(utf8FromUtf16(name), std::move(*member));
    }
    return dictionary;
}

std::optional<PropertyValue> containerToObject(const APMPRuntimeValue& value, Path& path, ErrorSlot& error) {
    if (std::find(path.begin(), path.end(), &value) != path.end()) return std::nullopt;
    if (path.size() >= static_cast<std::size_t>(kMaxNestingDepth)) {
        fail(error, PixieErrorCode::NestingTooDeep);
        return std::nullopt;
    }
    path.push_back(&value);
    std::optional<PropertyValue> result;
    if (const auto* map = valueAs<APMPMapValue>(value)) {
        platform::PropertyDictionary dictionary = mapToDictionary(*map, path, error);
        if (!error) result = PropertyValue(std::move(dictionary));
    } else {
        platform::PropertyArray members;
        for (const ValuePtr& element : static_cast<const APMPArrayValue&>(value).allElements()) {
            std::optional<PropertyValue> member = toObject(*element, path, error);
            if (error) break;
            if (member) members.push_back(std::move(*member));
        }
        if (!error) result = PropertyValue(std::move(members));
    }
    path.pop_back();
    return result;
}

std::optional<PropertyValue> toObject(const APMPRuntimeValue& value, Path& path, ErrorSlot& error) {
    switch (value.kind()) {
        case ValueKind::Null:
            return std::nullopt;
        case ValueKind::Undefined:
            return PropertyValue(std::string());
        case ValueKind::Map:
        case ValueKind::Array:
            return containerToObject(value, path, error);
        default:
            break;
    }
    const double number = value.doubleValueOrError(error);
    if (error) return std::nullopt;
    if (!std::isnan(number)) return PropertyValue(number);
    const std::u16string text = value.stringValueOrError(error);
    if (error) return std::nullopt;
    return PropertyValue(utf8FromUtf16(text));
}

}  // namespace

ValuePtr APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(const APMPBRuntimeEntity& entity,
                                                                   ErrorSlot& error) {
    return fromEntity(entity, 0, error);
}

ValuePtr APMPRuntimeEntityConverter::stringValueFromRuntimeEntity(const APMPBRuntimeEntity& entity) {
    return APMPStringValue::fromUtf8(APMPBGetString(entity, kString).value_or(std::string()));
}

ValuePtr APMPRuntimeEntityConverter::numberValueFromRuntimeEntity(const APMPBRuntimeEntity& entity) {
    return APMPNumberValue::make(APMPBHasField(entity, kNumber) ? APMPBGetDouble(entity, kNumber)
                                                                : std::numeric_limits<double>::quiet_NaN());
}

ValuePtr APMPRuntimeEntityConverter::booleanValueFromRuntimeEntity(const APMPBRuntimeEntity& entity) {
    return booleanValue(APMPBGetBool(entity, kBoolean));
}

ValuePtr APMPRuntimeEntityConverter::statementValueFromRuntimeEntity(const APMPBRuntimeEntity& entity,
                                                                     ErrorSlot& error) {
    return statementFromEntity(entity, 0, error);
}

std::size_t APMPRuntimeEntityConverter::programEntityCount(const APMPBProgram& program, std::size_t limit) {
    // Walks the records themselves, in linear time: reading through wrappers
    // would copy every subtree once for each level above it.
    std::vector<const MessageInfo*> pending;
    const auto addAll = [&pending](std::span<void* const> items) {
        for (void* item : items) {
            if (item) pending.push_back(static_cast<const MessageInfo*>(item));
        }
    };
    const MessageInfo* record = program.messageInfo();
    addAll(repeatedItems(record, kProgramInstructions));
    for (void* activity : repeatedItems(childRecord(record, kProgramActivities), kActivitiesList)) {
        if (activity) addAll(repeatedItems(static_cast<const MessageInfo*>(activity), kActivityData));
    }
    std::size_t count = 0;
    while (!pending.empty() && count <= limit) {
        const MessageInfo* entity = pending.back();
        pending.pop_back();
        ++count;
        addAll(repeatedItems(entity, kArguments));
    }
    return count;
}

ValuePtr APMPRuntimeEntityConverter::runtimeValueFromNSObject(const platform::PropertyValue* object,
                                                              const ScopePtr& scope, ErrorSlot& error) {
    if (!object) return nullValue();
    return fromObject(*object, *scope, 0, error);
}

std::optional<platform::PropertyValue> APMPRuntimeEntityConverter::objectFromRuntimeValue(
    const APMPRuntimeValue& value, ErrorSlot& error) {
    Path path;
    return toObject(value, path, error);
}

platform::PropertyDictionary APMPRuntimeEntityConverter::dictionaryFromMapValue(const APMPMapValue& map,
                                                                               ErrorSlot& error) {
    Path path{&map};
    return mapToDictionary(map, path, error);
}

}  // namespace measurement::rules
