// Conditional user properties: one conditional_properties row per name, at
// most 1000 rows.

#include "measurement/storage/APMDatabase.h"

#include "measurement/storage/APMStoredValue.h"

namespace {

constexpr std::int64_t kConditionalPropertiesLimit = 1000;
constexpr const char* kTable = "conditional_properties";

std::optional<APMConditionalUserPropertyRecord> propertyFromRow(const APMSqliteRow& row) {
    APMConditionalUserPropertyRecord property;
    auto name = row.text("name");
    auto origin = row.text("origin");
    auto value = APMValueFromSqliteValue(row.find("value"));
    auto created = row.real("creation_timestamp");
    auto active = row.integer("active");
    auto timeout = row.real("trigger_timeout");
    auto triggered = row.real("triggered_timestamp");
    auto timeToLive = row.real("time_to_live");
    if (!name || !origin || !value || !created || !active || !timeout || !triggered || !timeToLive) return std::nullopt;
    property.name = std::move(*name);
    property.origin = std::move(*origin);
    property.value = std::move(*value);
    property.creationTimestamp = *created;
    property.active = *active != 0;
    property.triggerTimeout = *timeout;
    property.triggeredTimestamp = *triggered;
    property.timeToLive = *timeToLive;
    // Optional columns: NULL means unset; any other type is damage.
    auto optionalText = [&](const char* column, std::optional<std::string>& field) {
        if (row.isNull(column)) return true;
        field = row.text(column);
        return field.has_value();
    };
    auto optionalBlob = [&](const char* column, std::optional<APMBytes>& field) {
        if (row.isNull(column)) return true;
        field = row.blob(column);
        return field.has_value();
    };
    if (!optionalText("trigger_event_name", property.triggerEventName) ||
        !optionalBlob("timed_out_event", property.timedOutEvent) ||
        !optionalBlob("triggered_event", property.triggeredEvent) ||
        !optionalBlob("expired_event", property.expiredEvent)) {
        return std::nullopt;
    }
    return property;
}

APMError refusal(const std::string& description) {
    return APMError::withCode(kAPMDatabaseErrorInvalidArgument, description);
}

// "!"-escapes the LIKE wildcards so that a name matches only itself.
std::string escapedForLike(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '!' || c == '%' || c == '_') escaped += '!';
        escaped += c;
    }
    return escaped;
}

}  // namespace

APMResult<std::vector<APMConditionalUserPropertyRecord>> APMDatabase::conditionalUserProperties(
    const std::string& condition, const APMSqliteStore::Parameters& parameters) {
    using Result = APMResult<std::vector<APMConditionalUserPropertyRecord>>;
    auto rows = store_->recordsForQuery(std::string("SELECT rowid, * FROM ") + kTable + " WHERE " + condition, parameters);
    if (rows.failed()) return Result::failure(*rows.error);
    std::vector<APMConditionalUserPropertyRecord> properties;
    for (const auto& row : *rows.value) {
        auto property = propertyFromRow(row);
        if (!property) {
            return Result::failure(APMError::withCode(kAPMDatabaseErrorInvalidData,
                                                      "Conditional user property row has missing or mistyped columns"));
        }
        properties.push_back(std::move(*property));
    }
    return Result::success(std::move(properties));
}

APMResult<bool> APMDatabase::containsConditionalUserProperties() {
    return existsInTable(kTable, std::string("SELECT EXISTS (SELECT 1 FROM ") + kTable + ")", {});
}

APMResult<APMConditionalUserPropertyRecord> APMDatabase::conditionalUserPropertyWithName(const std::string& name) {
    using Result = APMResult<APMConditionalUserPropertyRecord>;
    auto found = conditionalUserProperties("name = ?", {name});
    if (found.failed()) return Result::failure(*found.error);
    if (found.value->empty()) return Result::none();
    return Result::success(std::move(found.value->front()));
}

bool APMDatabase::updateConditionalUserProperty(const APMConditionalUserPropertyRecord& property, APMError* error) {
    std::optional<APMSqliteValue> value = property.value ? APMSqliteValueFromValue(*property.value) : std::nullopt;
    std::string problem;
    if (property.name.empty()) {
        problem = "Received conditional user property with empty name for getting dictionary representation";
    } else if (property.origin.empty()) {
        problem = "Received conditional user property with empty origin for getting dictionary representation";
    } else if (!value) {
        problem = "Received conditional user property with nil value for getting dictionary representation";
    }
    if (!problem.empty()) {
        if (error) *error = refusal(problem);
        return false;
    }
    APMSqliteRow record{{"name", property.name},
                        {"origin", property.origin},
                        {"value", std::move(*value)},
                        {"creation_timestamp", property.creationTimestamp},
                        {"active", std::int64_t{property.active}},
                        {"trigger_timeout", property.triggerTimeout},
                        {"triggered_timestamp", property.triggeredTimestamp},
                        {"time_to_live", property.timeToLive}};
    if (property.triggerEventName && !property.triggerEventName->empty()) {
        record.set("trigger_event_name", *property.triggerEventName);
    }
    if (property.triggeredEvent) record.set("triggered_event", *property.triggeredEvent);
    if (property.timedOutEvent) record.set("timed_out_event", *property.timedOutEvent);
    if (property.expiredEvent) record.set("expired_event", *property.expiredEvent);
    return upsertDataType(record, kTable, "name", property.name, kConditionalPropertiesLimit, error);
}

bool APMDatabase::deleteConditionalUserPropertyWithName(const std::string& name, APMError* error) {
    if (name.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty conditional user property name to delete");
        return false;
    }
    return store_->deleteRecordFromTable(kTable, "name", name, error);
}

APMResult<std::vector<APMConditionalUserPropertyRecord>> APMDatabase::timedOutConditionalUserProperties() {
    return conditionalUserProperties("active=0 and abs(? - creation_timestamp) > trigger_timeout", {now()});
}

APMResult<std::vector<APMConditionalUserPropertyRecord>> APMDatabase::expiredConditionalUserProperties() {
    return conditionalUserProperties("active=1 and abs(? - triggered_timestamp) > time_to_live", {now()});
}

APMResult<std::vector<APMConditionalUserPropertyRecord>> APMDatabase::triggeredConditionalUserPropertiesWithEventName(
    const std::string& eventName) {
    if (eventName.empty()) {
        return APMResult<std::vector<APMConditionalUserPropertyRecord>>::failure(
            refusal("Received nil/empty event name for querying triggered conditional user properties"));
    }
    return conditionalUserProperties(
        "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout", {eventName, now()});
}

APMResult<std::vector<APMConditionalUserPropertyRecord>> APMDatabase::conditionalUserPropertiesWithPrefix(
    const std::string& prefix, const std::string& origin) {
    std::vector<std::string> conditions;
    APMSqliteStore::Parameters parameters;
    if (!origin.empty()) {
        conditions.push_back("origin LIKE ? ESCAPE '!'");
        parameters.emplace_back(escapedForLike(origin));
    }
    if (!prefix.empty()) {
        conditions.push_back("name LIKE ? || '%' ESCAPE '!'");
        parameters.emplace_back(escapedForLike(prefix));
    }
    std::string condition;
    for (const auto& part : conditions) condition += (condition.empty() ? "" : " AND ") + part;
    return conditionalUserPropertiesWithCondition(condition.empty() ? "1 == 1" : condition, parameters);
}

APMResult<std::vector<APMConditionalUserPropertyRecord>> APMDatabase::conditionalUserPropertiesWithCondition(
    const std::string& condition, const APMSqliteStore::Parameters& parameters) {
    if (condition.empty()) {
        return APMResult<std::vector<APMConditionalUserPropertyRecord>>::failure(
            refusal("Received empty condition for querying a conditional user property"));
    }
    return conditionalUserProperties(condition, parameters);
}
