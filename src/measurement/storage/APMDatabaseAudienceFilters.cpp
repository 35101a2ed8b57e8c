// Audience definitions as filter rows (event_filters, property_filters) and
// the evaluation results per audience (audience_filter_values).

#include "measurement/storage/APMDatabase.h"

#include <set>

#include "measurement/storage/APMStoredMessageCodec.h"

namespace {

APMError refusal(const std::string& description) {
    return APMError::withCode(kAPMDatabaseErrorInvalidArgument, description);
}

// The flags come from the encoded filter itself; data that does not decode
// (or no codec) gives all of them NO.
template <typename Filter>
void applyFlags(Filter& filter, const std::optional<APMFilterFlags>& flags) {
    if (!flags) return;
    filter.isSessionScoped = flags->sessionScoped;
    filter.isDynamic = flags->dynamic;
    filter.isSequence = flags->sequence;
}

struct FilterRow {
    std::int32_t audienceID;
    std::int32_t filterID;
    std::string name;
    APMBytes data;
};

std::optional<FilterRow> filterRowFrom(const APMSqliteRow& row, const char* nameColumn) {
    auto audienceID = row.integer("audience_id");
    auto filterID = row.integer("filter_id");
    auto name = row.text(nameColumn);
    auto data = row.blob("data");
    if (!audienceID || !filterID || !name || !data) return std::nullopt;
    return FilterRow{static_cast<std::int32_t>(*audienceID), static_cast<std::int32_t>(*filterID), std::move(*name),
                     std::move(*data)};
}

// Event and property filters are stored alike: a table per kind whose name
// column holds the event or property name the filter applies to.
template <typename Filter>
struct FilterTable {
    const char* table;
    const char* nameColumn;
    const char* kind;  // "event" or "property", as messages name it
    std::string Filter::*name;
    std::optional<APMFilterFlags> (APMStoredMessageCodec::*flags)(const APMBytes& encodedFilter) const;
};

constexpr FilterTable<APMEventFilter> kEventFilters{"event_filters", "event_name", "event", &APMEventFilter::eventName,
                                                    &APMStoredMessageCodec::eventFilterFlags};
constexpr FilterTable<APMPropertyFilter> kPropertyFilters{"property_filters", "property_name", "property",
                                                          &APMPropertyFilter::propertyName,
                                                          &APMStoredMessageCodec::propertyFilterFlags};

// The filters stored for one name, in the order they were stored; rows with
// missing or mistyped columns are skipped.
template <typename Filter>
APMResult<std::vector<Filter>> filtersForName(APMSqliteStore& store, const FilterTable<Filter>& table,
                                              const std::string& name) {
    using Result = APMResult<std::vector<Filter>>;
    if (name.empty()) {
        return Result::failure(refusal(std::string("Received empty ") + table.kind + " name for getting " +
                                       table.kind + " filters"));
    }
    auto rows = store.recordsForQuery(std::string("SELECT audience_id, filter_id, ") + table.nameColumn +
                                          ", data FROM " + table.table + " WHERE " + table.nameColumn +
                                          " = ? ORDER BY rowid",
                                      {name});
    if (rows.failed()) return Result::failure(*rows.error);
    auto messages = APMStoredMessageCodec::installed();
    std::vector<Filter> filters;
    for (const auto& row : *rows.value) {
        auto read = filterRowFrom(row, table.nameColumn);
        if (!read) continue;
        Filter filter{read->audienceID, read->filterID, std::move(read->name), std::move(read->data)};
        applyFlags(filter, messages ? ((*messages).*table.flags)(filter.data) : std::nullopt);
        filters.push_back(std::move(filter));
    }
    return Result::success(std::move(filters));
}

std::optional<APMFilterResult> resultFromRow(const APMSqliteRow& row) {
    auto audienceID = row.integer("audience_id");
    if (!audienceID) return std::nullopt;
    APMFilterResult result;
    result.audienceID = static_cast<std::int32_t>(*audienceID);
    // NULL results read as empty; any other type is damage.
    for (auto [column, field] : {std::pair{"current_results", &result.currentResults},
                                 std::pair{"previous_results", &result.previousResults}}) {
        if (row.isNull(column)) continue;
        auto bytes = row.blob(column);
        if (!bytes) return std::nullopt;
        *field = std::move(*bytes);
    }
    return result;
}

}  // namespace

APMResult<std::vector<APMEventFilter>> APMDatabase::eventFiltersForEventName(const std::string& eventName) {
    return filtersForName(*store_, kEventFilters, eventName);
}

APMResult<std::vector<APMPropertyFilter>> APMDatabase::propertyFiltersForPropertyName(const std::string& propertyName) {
    return filtersForName(*store_, kPropertyFilters, propertyName);
}

APMResult<std::map<std::int32_t, APMFilterResult>> APMDatabase::filterResultsWhere(
    const std::string& condition, const APMSqliteStore::Parameters& parameters, std::int64_t* damagedRows) {
    using Result = APMResult<std::map<std::int32_t, APMFilterResult>>;
    if (damagedRows) *damagedRows = 0;
    auto rows = store_->recordsForQuery("SELECT * FROM audience_filter_values" + condition, parameters);
    if (rows.failed()) return Result::failure(*rows.error);
    std::map<std::int32_t, APMFilterResult> results;
    for (const auto& row : *rows.value) {
        // A damaged row reads as absent: the next stored result replaces it.
        if (auto result = resultFromRow(row)) {
            results[result->audienceID] = std::move(*result);
        } else if (damagedRows) {
            ++*damagedRows;
        }
    }
    return Result::success(std::move(results));
}

APMResult<APMFilterResult> APMDatabase::filterResultForAudienceID(std::int32_t audienceID, std::int64_t* damagedRows) {
    using Result = APMResult<APMFilterResult>;
    auto results = filterResultsWhere(" WHERE audience_id = ?", {std::int64_t{audienceID}}, damagedRows);
    if (results.failed()) return Result::failure(*results.error);
    const auto found = results.value->find(audienceID);
    if (found == results.value->end()) return Result::none();
    return Result::success(std::move(found->second));
}

APMResult<std::map<std::int32_t, APMFilterResult>> APMDatabase::allFilterResults(std::int64_t* damagedRows) {
    return filterResultsWhere("", {}, damagedRows);
}

APMResult<std::vector<std::int32_t>> APMDatabase::allAudienceIDs() {
    using Result = APMResult<std::vector<std::int32_t>>;
    auto rows = store_->recordsForQuery(
        "SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {});
    if (rows.failed()) return Result::failure(*rows.error);
    std::vector<std::int32_t> ids;
    for (const auto& row : *rows.value) {
        if (auto id = row.integer("audience_id")) ids.push_back(static_cast<std::int32_t>(*id));
    }
    return Result::success(std::move(ids));
}

APMResult<std::map<std::int32_t, std::vector<std::int32_t>>> APMDatabase::allSessionScopedFilters() {
    using Result = APMResult<std::map<std::int32_t, std::vector<std::int32_t>>>;
    auto rows = store_->recordsForQuery(
        "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION "
        "SELECT audience_id, filter_id FROM property_filters WHERE session_scoped = 1",
        {});
    if (rows.failed()) return Result::failure(*rows.error);
    std::map<std::int32_t, std::vector<std::int32_t>> filters;
    for (const auto& row : *rows.value) {
        auto audienceID = row.integer("audience_id");
        auto filterID = row.integer("filter_id");
        if (audienceID && filterID) {
            filters[static_cast<std::int32_t>(*audienceID)].push_back(static_cast<std::int32_t>(*filterID));
        }
    }
    return Result::success(std::move(filters));
}

bool APMDatabase::updateFilterResults(const std::vector<APMFilterResult>& results, APMError* error) {
    if (results.empty()) {
        if (error) *error = refusal("Received empty filter results to update");
        return false;
    }
    return runInTransaction(error, [&](APMError* failure) {
        for (const auto& result : results) {
            APMSqliteRow record{{"audience_id", std::int64_t{result.audienceID}},
                                {"current_results", result.currentResults},
                                {"previous_results", result.previousResults}};
            if (!store_->upsertRecord(record, "audience_filter_values", failure)) return false;
        }
        return true;
    });
}

bool APMDatabase::deleteFilterResults(const std::vector<APMFilterResult>& results, APMError* error) {
    if (results.empty()) {
        if (error) *error = refusal("Received empty filter results to delete");
        return false;
    }
    std::vector<std::int64_t> ids;
    for (const auto& result : results) ids.push_back(result.audienceID);
    APMSqliteStore::Parameters parameters;
    std::string list = bindList(ids, parameters);
    return run("DELETE FROM audience_filter_values WHERE audience_id IN (" + list + ")", parameters, error);
}

namespace {

// Upserts each filter in turn; the first one without a name or data, or the
// first failing write, stops with `failure` set.
template <typename Filter>
[[nodiscard]] bool storeFilters(APMSqliteStore& store, const FilterTable<Filter>& table,
                                const std::vector<Filter>& filters, APMError* failure) {
    for (const Filter& filter : filters) {
        const std::string& name = filter.*table.name;
        if (name.empty()) {
            *failure = refusal(std::string("Received ") + table.kind + " filter with empty " + table.kind +
                               " name for getting dictionary representation");
            return false;
        }
        if (filter.data.empty()) {
            *failure = refusal(std::string("Received ") + table.kind +
                               " filter with empty data for getting dictionary representation");
            return false;
        }
        APMSqliteRow record{{"audience_id", std::int64_t{filter.audienceID}},
                            {"filter_id", std::int64_t{filter.filterID}},
                            {table.nameColumn, name},
                            {"data", filter.data},
                            {"session_scoped", std::int64_t{filter.isSessionScoped}}};
        if (!store.upsertRecord(record, table.table, failure)) return false;
    }
    return true;
}

}  // namespace

bool APMDatabase::updateEventFilters(const std::vector<APMEventFilter>& filters, APMError* error) {
    return runInTransaction(error, [&](APMError* failure) {
        return storeFilters(*store_, kEventFilters, filters, failure);
    });
}

bool APMDatabase::updatePropertyFilters(const std::vector<APMPropertyFilter>& filters, APMError* error) {
    return runInTransaction(error, [&](APMError* failure) {
        return storeFilters(*store_, kPropertyFilters, filters, failure);
    });
}

bool APMDatabase::deleteAllEventFilters(APMError* error) {
    return run("DELETE FROM event_filters", {}, error);
}

bool APMDatabase::deleteAllPropertyFilters(APMError* error) {
    return run("DELETE FROM property_filters", {}, error);
}
