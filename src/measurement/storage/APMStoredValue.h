#pragma once
// How a user-property value sits in a SQLite column: a string as text, a
// double as a real, an integer as a 64-bit integer. Arrays are never stored.

#include <optional>

#include "measurement/storage/APMSqliteRow.h"
#include "measurement/storage/APMValue.h"

// None for an array value.
[[nodiscard]] std::optional<APMSqliteValue> APMSqliteValueFromValue(const APMValue& value);
// None for NULL and blobs.
[[nodiscard]] std::optional<APMValue> APMValueFromSqliteValue(const APMSqliteValue* value);
