#include "measurement/rules/APMPKeyValueStore.h"

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {

APMPKeyValueStore::APMPKeyValueStore(std::u16string functionName, KeyValueBlock getValueBlock)
    : APMPFunctionValue(std::move(functionName)) {
    setValue(std::make_shared<APMPKeyValueStoreGetValue>(std::move(getValueBlock)), u"getValue");
}

APMPKeyValueStoreGetValue::APMPKeyValueStoreGetValue(KeyValueBlock block)
    : APMPFunctionValue(u"getValue"), getValueBlock_(std::move(block)) {}

ValuePtr APMPKeyValueStoreGetValue::invokeWithArguments(const ValueList& arguments, const ScopePtr& scope,
                                                        ErrorSlot& error) {
    if (!checkArgumentCount(arguments, 2, error)) return undefinedValue();
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error) return undefinedValue();
    const std::u16string key = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    const std::optional<std::string> found = getValueBlock_ ? getValueBlock_(utf8FromUtf16(key)) : std::nullopt;
    return found ? APMPStringValue::fromUtf8(*found) : values[1];
}

}  // namespace measurement::rules
