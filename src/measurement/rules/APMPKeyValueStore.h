#pragma once
// A host module of settings, e.g. "internal.remoteConfig": its method
// getValue(key, fallback) answers the host's text for the key's string form
// as a string value, or the fallback unchanged when the host has none.
// Exactly two arguments (code 9). Calling the module itself gives undefined.

#include <functional>
#include <optional>
#include <string>

#include "measurement/rules/APMPFunctionValue.h"

namespace measurement::rules {

using KeyValueBlock = std::function<std::optional<std::string>(const std::string& key)>;

class APMPKeyValueStore final : public APMPFunctionValue {
public:
    APMPKeyValueStore(std::u16string functionName, KeyValueBlock getValueBlock);
};

class APMPKeyValueStoreGetValue final : public APMPFunctionValue {
public:
    explicit APMPKeyValueStoreGetValue(KeyValueBlock block);
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) override;

private:
    KeyValueBlock getValueBlock_;
};

}  // namespace measurement::rules
