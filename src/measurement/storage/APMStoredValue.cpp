#include "measurement/storage/APMStoredValue.h"

std::optional<APMSqliteValue> APMSqliteValueFromValue(const APMValue& value) {
    switch (value.kind()) {
    case APMValue::Kind::String:
        return APMSqliteValue(*value.stringValue());
    case APMValue::Kind::Double:
        return APMSqliteValue(value.doubleValue());
    case APMValue::Kind::Int64:
        return APMSqliteValue(value.int64Value());
    case APMValue::Kind::Array:
        break;
    }
    return std::nullopt;
}

std::optional<APMValue> APMValueFromSqliteValue(const APMSqliteValue* value) {
    if (value == nullptr) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(value)) return APMValue(*text);
    if (const auto* real = std::get_if<double>(value)) return APMValue(*real);
    if (const auto* integer = std::get_if<std::int64_t>(value)) return APMValue(*integer);
    return std::nullopt;
}
