#pragma once
// Test-only: rule programs as real wire messages. Statements are written as
// in ProgramText.h; the program is built as RuntimeEntity messages, encoded
// to bytes and decoded again, as a fetched configuration would arrive.

#include <initializer_list>
#include <memory>
#include <string_view>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules::testing {

struct ActivityText {
    const char* name;
    const char* statements;
};

std::shared_ptr<APMPBRuntimeEntity> entityFromValue(const ValuePtr& value);
std::shared_ptr<APMPBProgram> encodedProgram(std::string_view statements,
                                             std::initializer_list<ActivityText> activities = {});

}  // namespace measurement::rules::testing
