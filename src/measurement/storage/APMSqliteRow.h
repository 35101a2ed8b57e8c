#pragma once
// Values and rows as SQLite stores them. APMSqliteValue is one cell (NULL,
// 64-bit integer, real, text or blob); APMSqliteRow is one result row or one
// record to write, column name to value in column order. The typed readers
// answer none when the column is missing or holds another type, so a row
// with the wrong column types is refused instead of misread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "measurement/storage/APMBytes.h"

using APMSqliteValue = std::variant<std::monostate, std::int64_t, double, std::string, APMBytes>;

class APMSqliteRow {
public:
    APMSqliteRow() = default;
    // A record to write: column name to value, in the given order.
    APMSqliteRow(std::initializer_list<std::pair<std::string, APMSqliteValue>> columns);
    // A result row over the statement's column names (shared by its rows).
    APMSqliteRow(std::shared_ptr<const std::vector<std::string>> names, std::vector<APMSqliteValue> values);

    std::size_t size() const { return values_.size(); }
    const std::string& nameAt(std::size_t index) const { return (*names_)[index]; }
    const APMSqliteValue& valueAt(std::size_t index) const { return values_[index]; }
    // The value of the column, null when there is no such column.
    const APMSqliteValue* find(std::string_view column) const;
    void set(std::string column, APMSqliteValue value);

    // Typed readers; none when absent or of another storage class.
    std::optional<std::int64_t> integer(std::string_view column) const;
    // A real, or an integer read as a real.
    std::optional<double> real(std::string_view column) const;
    std::optional<std::string> text(std::string_view column) const;
    std::optional<APMBytes> blob(std::string_view column) const;
    bool isNull(std::string_view column) const;

    bool operator==(const APMSqliteRow& other) const;

private:
    std::shared_ptr<const std::vector<std::string>> names_ = std::make_shared<std::vector<std::string>>();
    std::vector<APMSqliteValue> values_;
};
