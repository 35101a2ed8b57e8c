// User properties: one user_attributes row per name.

#include "measurement/storage/APMDatabase.h"

#include "measurement/storage/APMStoredValue.h"

namespace {

constexpr std::int64_t kUserAttributesReadLimit = 1000;

std::optional<APMUserAttribute> attributeFromRow(const APMSqliteRow& row) {
    auto name = row.text("name");
    auto origin = row.text("origin");
    auto timestamp = row.real("set_timestamp");
    auto value = APMValueFromSqliteValue(row.find("value"));
    if (!name || !origin || !timestamp || !value) return std::nullopt;
    return APMUserAttribute(std::move(*origin), std::move(*name), std::move(*value), *timestamp);
}

APMError unreadableAttribute() {
    return APMError::withCode(kAPMDatabaseErrorInvalidData, "User attribute row has missing or mistyped columns");
}

}  // namespace

APMResult<APMUserAttribute> APMDatabase::userAttributeWithName(const std::string& name) {
    return keptRead(keptAttributes_, "user_attributes", name, [&] {
        auto row =
            store_->firstRow("SELECT name, origin, set_timestamp, value FROM user_attributes WHERE name = ?", {name});
        if (row.failed()) return APMResult<APMUserAttribute>::failure(*row.error);
        if (!row.value) return APMResult<APMUserAttribute>::none();
        auto attribute = attributeFromRow(*row.value);
        if (!attribute) return APMResult<APMUserAttribute>::failure(unreadableAttribute());
        return APMResult<APMUserAttribute>::success(std::move(*attribute));
    });
}

APMResult<bool> APMDatabase::containsUserAttributeWithName(const std::string& name) {
    return existsInTable("user_attributes", "SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ?)", {name});
}

APMResult<bool> APMDatabase::containsUserAttributeWithAnyName(const std::vector<std::string>& names) {
    if (names.empty()) return APMResult<bool>::success(false);
    std::string placeholders = "?";
    for (std::size_t i = 1; i < names.size(); ++i) placeholders += ", ?";
    return existsInTable("user_attributes",
                         "SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name IN (" + placeholders + "))",
                         APMSqliteStore::Parameters(names.begin(), names.end()));
}

bool APMDatabase::deleteUserAttributeWithName(const std::string& name, APMError* error) {
    if (name.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty user attribute name to delete");
        return false;
    }
    return store_->deleteRecordFromTable("user_attributes", "name", name, error);
}

bool APMDatabase::updateUserAttribute(const APMUserAttribute& attribute, APMError* error) {
    auto value = APMSqliteValueFromValue(attribute.value());
    if (attribute.name().empty() || !value) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received user attribute with empty name or an array value");
        return false;
    }
    return run("INSERT INTO user_attributes (name, origin, set_timestamp, value) VALUES (?, ?, ?, ?) "
               "ON CONFLICT (name) DO UPDATE SET origin = excluded.origin, set_timestamp = excluded.set_timestamp, "
               "value = excluded.value",
               {attribute.name(), attribute.origin(), attribute.lastSetTimestamp(), std::move(*value)}, error);
}

APMResult<std::int64_t> APMDatabase::publicUserAttributeCount() {
    auto count = queryInteger("SELECT COUNT(*) FROM user_attributes WHERE substr(name, 1, 1) != '_'", {});
    return count.value || count.failed() ? count : APMResult<std::int64_t>::success(0);
}

APMResult<std::int64_t> APMDatabase::userAttributeCountForOrigin(const std::string& origin) {
    auto count = queryInteger("SELECT COUNT(*) FROM user_attributes WHERE origin = ?", {origin});
    return count.value || count.failed() ? count : APMResult<std::int64_t>::success(0);
}

namespace {

APMResult<std::vector<APMUserAttribute>> attributesFromRows(APMResult<std::vector<APMSqliteRow>> rows) {
    using Result = APMResult<std::vector<APMUserAttribute>>;
    if (rows.failed()) return Result::failure(*rows.error);
    std::vector<APMUserAttribute> attributes;
    for (const auto& row : *rows.value) {
        // One damaged row must not hide the others.
        if (auto attribute = attributeFromRow(row)) attributes.push_back(std::move(*attribute));
    }
    return Result::success(std::move(attributes));
}

}  // namespace

APMResult<std::vector<APMUserAttribute>> APMDatabase::userAttributesIncludingInternal(bool includingInternal) {
    const std::string filter = includingInternal ? "" : " WHERE substr(name, 1, 1) != '_'";
    return keptRead(keptAttributeLists_, "user_attributes", filter, [&] {
        return attributesFromRows(store_->recordsForQuery(
            "SELECT name, origin, set_timestamp, value FROM user_attributes" + filter + " ORDER BY rowid LIMIT ?",
            {kUserAttributesReadLimit}));
    });
}

APMResult<std::vector<APMUserAttribute>> APMDatabase::allLifetimeValueUserAttributes() {
    return attributesFromRows(store_->recordsForQuery(
        "SELECT * FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE '!' ORDER BY set_timestamp DESC", {}));
}
