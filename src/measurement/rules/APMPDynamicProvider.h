#pragma once
// The host's module registry: module name to a creator that makes the
// module value. Names are plain keys; a later registration replaces an
// earlier one.

#include <functional>
#include <string>
#include <unordered_map>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

using ModuleCreator = std::function<ValuePtr()>;

class APMPDynamicProvider {
public:
    void setModuleCreator(ModuleCreator creator, std::u16string name);
    // Undefined without error when no creator is registered; code 15 when
    // the creator makes nothing; else a new value from the creator.
    ValuePtr moduleForName(const std::u16string& name, ErrorSlot& error) const;

private:
    std::unordered_map<std::u16string, ModuleCreator> creators_;
};

}  // namespace measurement::rules
