#include "measurement/storage/APMSqliteRow.h"

#include <algorithm>

APMSqliteRow::APMSqliteRow(std::initializer_list<std::pair<std::string, APMSqliteValue>> columns) {
    for (const auto& [name, value] : columns) set(name, value);
}

APMSqliteRow::APMSqliteRow(std::shared_ptr<const std::vector<std::string>> names, std::vector<APMSqliteValue> values)
    : names_(std::move(names)), values_(std::move(values)) {}

const APMSqliteValue* APMSqliteRow::find(std::string_view column) const {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if ((*names_)[i] == column) return &values_[i];
    }
    return nullptr;
}

void APMSqliteRow::set(std::string column, APMSqliteValue value) {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if ((*names_)[i] == column) {
            values_[i] = std::move(value);
            return;
        }
    }
    // Rows built by hand own their names; copy on the first write to shared ones.
    auto names = std::make_shared<std::vector<std::string>>(*names_);
    names->push_back(std::move(column));
    names_ = std::move(names);
    values_.push_back(std::move(value));
}

std::optional<std::int64_t> APMSqliteRow::integer(std::string_view column) const {
    const APMSqliteValue* value = find(column);
    if (value == nullptr || !std::holds_alternative<std::int64_t>(*value)) return std::nullopt;
    return std::get<std::int64_t>(*value);
}

std::optional<double> APMSqliteRow::real(std::string_view column) const {
    const APMSqliteValue* value = find(column);
    if (value == nullptr) return std::nullopt;
    if (const auto* number = std::get_if<double>(value)) return *number;
    if (const auto* number = std::get_if<std::int64_t>(value)) return static_cast<double>(*number);
    return std::nullopt;
}

std::optional<std::string> APMSqliteRow::text(std::string_view column) const {
    const APMSqliteValue* value = find(column);
    if (value == nullptr || !std::holds_alternative<std::string>(*value)) return std::nullopt;
    return std::get<std::string>(*value);
}

std::optional<APMBytes> APMSqliteRow::blob(std::string_view column) const {
    const APMSqliteValue* value = find(column);
    if (value == nullptr || !std::holds_alternative<APMBytes>(*value)) return std::nullopt;
    return std::get<APMBytes>(*value);
}

bool APMSqliteRow::isNull(std::string_view column) const {
    const APMSqliteValue* value = find(column);
    return value == nullptr || std::holds_alternative<std::monostate>(*value);
}

bool APMSqliteRow::operator==(const APMSqliteRow& other) const {
    if (size() != other.size()) return false;
    for (std::size_t i = 0; i < size(); ++i) {
        if (nameAt(i) != other.nameAt(i) || valueAt(i) != other.valueAt(i)) return false;
    }
    return true;
}
