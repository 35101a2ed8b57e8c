#pragma once
// The process environment, read afresh at every call.

#include <optional>
#include <string>

namespace platform {

std::optional<std::string> environmentValue(const std::string& name);

}  // namespace platform
