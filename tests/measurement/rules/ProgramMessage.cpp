#include "ProgramMessage.h"

#include <gtest/gtest.h>

#include "ProgramText.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/rules/APMPStatementValue.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules::testing {
namespace {

template <class Wrapper>
std::shared_ptr<Wrapper> emptyMessage() {
    return Wrapper::initWithMessageInfo(nullptr);
}

APMPBArray entitiesFrom(const ValueList& values) {
    APMPBArray entities;
    for (const ValuePtr& value : values) entities.emplace_back(std::shared_ptr<NANOMessageBase>(entityFromValue(value)));
    return entities;
}

}  // namespace

std::shared_ptr<APMPBRuntimeEntity> entityFromValue(const ValuePtr& value) {
    auto entity = emptyMessage<APMPBRuntimeEntity>();
    ErrorSlot ignored;
    switch (value->kind()) {
        case ValueKind::String:
            APMPBSetInt32(*entity, 0, 1);
            APMPBSetString(*entity, 3, utf8FromUtf16(value->stringValueOrError(ignored)));
            break;
        case ValueKind::Number:
            APMPBSetInt32(*entity, 0, 2);
            APMPBSetDouble(*entity, 5, value->doubleValueOrError(ignored));
            break;
        case ValueKind::Boolean:
            APMPBSetInt32(*entity, 0, 3);
            APMPBSetBool(*entity, 4, value->booleanValueOrError(ignored));
            break;
        default: {
            const auto& statement = static_cast<const APMPStatementValue&>(*value);
            APMPBSetInt32(*entity, 0, 4);
            APMPBSetString(*entity, 2, utf8FromUtf16(statement.functionName()));
            APMPBSetArray(*entity, 1, entitiesFrom(statement.arguments()));
        }
    }
    return entity;
}

std::shared_ptr<APMPBProgram> encodedProgram(std::string_view statements,
                                             std::initializer_list<ActivityText> activities) {
    auto program = emptyMessage<APMPBProgram>();
    APMPBSetArray(*program, 0, entitiesFrom(parseProgram(statements)));
    if (activities.size() > 0) {
        APMPBArray list;
        for (const ActivityText& text : activities) {
            auto activity = emptyMessage<APMPBOgtActivity>();
            APMPBSetString(*activity, 0, text.name);
            APMPBSetArray(*activity, 1, entitiesFrom(parseProgram(text.statements)));
            list.emplace_back(std::shared_ptr<NANOMessageBase>(activity));
        }
        auto wrapper = emptyMessage<APMPBOgtActivities>();
        APMPBSetArray(*wrapper, 0, list);
        APMPBSetMessage(*program, 1, wrapper.get());
    }
    const std::optional<APMPBData> bytes = program->protoBuffer();
    EXPECT_TRUE(bytes.has_value());
    auto decoded = APMPBProgram::initWithBuffer(bytes ? bytes->span() : std::span<const std::uint8_t>{});
    EXPECT_NE(decoded, nullptr);
    return decoded;
}

}  // namespace measurement::rules::testing
