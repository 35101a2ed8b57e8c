#include "measurement/messages/APMPBFlag.h"

#include "measurement/messages/APMPBFieldAccess.h"

namespace {

constexpr int kErrorLevel = 1;

}  // namespace

std::optional<APMPBObject> APMPBFlagValue(const APMPBFlag* flag) {
    if (flag == nullptr) {
        return std::nullopt;
    }
    if (APMPBHasField(*flag, FlagSlot::IntValue)) {
        return APMPBNumber::numberWithLongLong(APMPBGetInt64(*flag, FlagSlot::IntValue));
    }
    if (APMPBHasField(*flag, FlagSlot::DoubleValue)) {
        return APMPBNumber::numberWithDouble(APMPBGetDouble(*flag, FlagSlot::DoubleValue));
    }
    if (APMPBHasField(*flag, FlagSlot::StringValue)) {
        std::optional<std::string> text = APMPBGetString(*flag, FlagSlot::StringValue);
        return text ? std::optional<APMPBObject>(std::move(*text)) : std::nullopt;
    }
    if (APMPBHasField(*flag, FlagSlot::BoolValue)) {
        return APMPBNumber::numberWithBool(APMPBGetBool(*flag, FlagSlot::BoolValue));
    }
    return std::nullopt;
}

std::shared_ptr<APMPBFlag> APMPBFlagWithNameValue(const std::optional<APMPBObject>& name,
                                                  const std::optional<APMPBObject>& value, ExperimentLogger& logger) {
    if (!name) {
        logger.logWithLevel(kErrorLevel, 850000, "Flag name must not be nil", std::nullopt);
        return nullptr;
    }
    const auto* nameText = std::get_if<std::string>(&*name);
    if (nameText == nullptr) {
        logger.logWithLevel(kErrorLevel, 850001, "Flag name must be a string", APMPBClassNameOf(*name));
        return nullptr;
    }
    const auto* number = value ? std::get_if<APMPBNumber>(&*value) : nullptr;
    const auto* text = value ? std::get_if<std::string>(&*value) : nullptr;
    if (number == nullptr && text == nullptr) {
        logger.logWithLevel(kErrorLevel, 850002, "Flag value is invalid",
                            value ? std::optional<std::string>(APMPBClassNameOf(*value)) : std::nullopt);
        return nullptr;
    }
    std::shared_ptr<APMPBFlag> flag = APMPBFlag::initWithBuffer({});
    if (flag == nullptr) {
        return nullptr;
    }
    APMPBSetString(*flag, FlagSlot::Name, *nameText);
    if (text != nullptr) {
        APMPBSetString(*flag, FlagSlot::StringValue, *text);
    } else if (number->isFloatType()) {
        APMPBSetDouble(*flag, FlagSlot::DoubleValue, number->doubleValue());
    } else {
        APMPBSetInt64(*flag, FlagSlot::IntValue, number->longLongValue());
    }
    return flag;
}
