// Configuration and evaluation of audiences; the results side is in
// APMAudienceResults.cpp.
#include "measurement/audiences/APMAudience.h"

#include <utility>

#include "measurement/audiences/APMAudienceFilterEvaluation.h"
#include "measurement/interface/APMEvent.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/AudienceNameRewriting.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/messages/UserAttributeConversion.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"

namespace {

std::shared_ptr<APMMonitor> monitor() { return APMMonitor::shared(); }

APMError errorOr(const std::optional<APMError>& error) {
    return error.value_or(APMError::withCode(0, "Unknown database error"));
}

std::optional<APMBytes> encoded(const NANOMessageBase& message) {
    auto bytes = message.protoBuffer();
    if (!bytes) return std::nullopt;
    return bytes->toVector();
}

// The stored rows of one accepted audience, its names already internal.
void appendFilterRows(const APMPBAudience& audience, std::vector<APMEventFilter>& eventRows,
                      std::vector<APMPropertyFilter>& propertyRows) {
    const std::int32_t audienceID = APMPBGetInt32(audience, AudienceSlot::AudienceID);
    for (const auto& filter : APMPBGetMessages<APMPBEventFilter>(audience, AudienceSlot::EventFilters)) {
        auto data = encoded(*filter);
        if (!data) continue;
        eventRows.push_back({audienceID, APMPBGetInt32(*filter, EventFilterSlot::FilterID),
                             APMPBGetString(*filter, EventFilterSlot::EventName).value_or(""), std::move(*data),
                             APMPBGetBool(*filter, EventFilterSlot::SessionScoped),
                             APMPBGetBool(*filter, EventFilterSlot::Dynamic),
                             APMPBGetBool(*filter, EventFilterSlot::Sequence)});
    }
    for (const auto& filter : APMPBGetMessages<APMPBPropertyFilter>(audience, AudienceSlot::PropertyFilters)) {
        auto data = encoded(*filter);
        if (!data) continue;
        propertyRows.push_back({audienceID, APMPBGetInt32(*filter, PropertyFilterSlot::FilterID),
                                APMPBGetString(*filter, PropertyFilterSlot::PropertyName).value_or(""),
                                std::move(*data), APMPBGetBool(*filter, PropertyFilterSlot::SessionScoped),
                                APMPBGetBool(*filter, PropertyFilterSlot::Dynamic),
                                APMPBGetBool(*filter, PropertyFilterSlot::Sequence)});
    }
}

}  // namespace

// One audience touched by a pass: its stored result (read at most once) and
// that result's current data, decoded once and updated in place.
struct APMAudience::AudienceState {
    std::optional<APMFilterResult> stored;
    std::optional<APMAudienceResultData> current;  // none: no result, or data that does not decode
    bool updated = false;  // changed by a verdict since it was read
    bool dirty = false;    // changed since it was last written

    // isFilterResult on the data decoded once.
    bool isTrue(std::int32_t filterID) const {
        // Once updated in this pass the audience's result is the updated one.
        if (!updated && (!stored || stored->currentResults.empty())) return false;
        if (!current) return false;
        if (current->status.empty() || current->results.empty()) {
            monitor()->log(2, 6023,
                           "Audience filter result is non-nil and is missing status or results array. Audience result "
                           "will not be bundled. Audience ID, result data",
                           stored ? stored->audienceID : 0,
                           static_cast<unsigned long>(stored ? stored->currentResults.size() : 0));
            return false;
        }
        return current->isTrue(filterID);
    }
};

// The log texts of the event pass and of the user-property pass.
struct APMAudience::PassTexts {
    long queryFiltersCode;
    const char* queryFilters;
    long queryResultCode;
    const char* queryResult;
    long corruptFilterCode;
    const char* corruptFilter;
    long saveCode;
    const char* save;
};

APMAudience::APMAudience(std::shared_ptr<APMDatabase> database, std::function<APMAudienceSettings()> settings)
    : database_(std::move(database)), settings_(std::move(settings)), filterCache_(std::make_unique<FilterCache>()) {}
APMAudience::~APMAudience() = default;

APMAudienceSettings APMAudience::settings() const { return settings_ ? settings_() : APMAudienceSettings{}; }

bool APMAudience::updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>& audiences) {
    const APMAudienceSettings limits = settings();
    if (audiences.size() > static_cast<std::size_t>(std::max(limits.maxAudienceCount, 0))) {
        monitor()->log(2, 6008,
                       "Configuration contains too many audiences. Audiences will not be saved. Audience count",
                       static_cast<unsigned long>(audiences.size()));
        return true;
    }
    std::set<std::int32_t> acceptedIDs;
    std::vector<APMEventFilter> eventRows;
    std::vector<APMPropertyFilter> propertyRows;
    for (const auto& definition : audiences) {
        APMError error;
        if (definition == nullptr ||
            !APMAudienceValidateAudience(*definition, acceptedIDs, limits.filterLimits, &error)) {
            monitor()->log(2, 6009, "Audience definition is invalid. Audience will not be saved. Audience, error",
                           definition ? std::to_string(APMPBGetInt32(*definition, AudienceSlot::AudienceID))
                                      : std::string("(null)"),
                           error);
            continue;
        }
        acceptedIDs.insert(APMPBGetInt32(*definition, AudienceSlot::AudienceID));
        // The caller's message stays as it came; the stored rows carry
        // internal names.
        auto audience = APMPBAudience::initWithMessageInfo(definition->messageInfo());
        if (audience == nullptr) continue;
        APMAudienceRewriteNamesToInternal(*audience);
        appendFilterRows(*audience, eventRows, propertyRows);
    }
    if (!maybeDeleteStaleFilterResults(acceptedIDs)) return false;
    APMError error;
    if (!database_->deleteAllEventFilters(&error)) {
        monitor()->log(1, 6010, "Unable to delete existing Audience event filters. Audiences will not be saved. Error",
                       error);
        return false;
    }
    if (!database_->deleteAllPropertyFilters(&error)) {
        monitor()->log(1, 6011,
                       "Unable to delete existing Audience user property filters. Audiences will not be saved. Error",
                       error);
        return false;
    }
    if (!eventRows.empty() && !database_->updateEventFilters(eventRows, &error)) {
        monitor()->log(1, 6012, "Unable to save Audience event filters. Audiences will not be saved. Error", error);
        return false;
    }
    if (!propertyRows.empty() && !database_->updatePropertyFilters(propertyRows, &error)) {
        monitor()->log(1, 6013, "Unable to save Audience user property filters. Audiences will not be saved. Error",
                       error);
        return false;
    }
    return true;
}

bool APMAudience::maybeDeleteStaleFilterResults(const std::set<std::int32_t>& newAudienceIDs) {
    auto results = database_->allFilterResults();
    if (results.failed() || !results.value) {
        monitor()->log(1, 6015, "Unable to query Audience filter results. Audiences will not be saved. Error",
                       errorOr(results.error));
        return false;
    }
    const std::int32_t maximum = settings().maxFilterResultCount;
    if (results.value->size() <= static_cast<std::size_t>(std::max(maximum, 0))) return true;
    monitor()->log(3, 6016,
                   "Too many Audience filter results. Deleting filter results for deleted Audiences. Filter result "
                   "count, max filter result count",
                   static_cast<unsigned long>(results.value->size()), maximum);
    auto currentIDs = database_->allAudienceIDs();
    if (currentIDs.failed() || !currentIDs.value) {
        monitor()->log(1, 6017, "Unable to query current Audience IDs. Audiences will not be saved. Error",
                       errorOr(currentIDs.error));
        return false;
    }
    const std::set<std::int32_t> stored(currentIDs.value->begin(), currentIDs.value->end());
    std::vector<APMFilterResult> stale;
    for (const auto& [audienceID, result] : *results.value) {
        if (!stored.contains(audienceID) && !newAudienceIDs.contains(audienceID)) stale.push_back(result);
    }
    APMError error;
    if (!stale.empty() && !database_->deleteFilterResults(stale, &error)) {
        monitor()->log(1, 6018, "Unable to delete stale Audience filter results. Audiences will not be saved. Error",
                       error);
        return false;
    }
    return true;
}

bool APMAudience::evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates* aggregates,
                                          APMAudienceTimestampsCache* cache) {
    return evaluateFiltersForEventName(event.name(), event.parameters(), aggregates, event.timestamp(), cache);
}

template <typename Filter, typename Evaluate, typename StoredVerdict>
bool APMAudience::evaluatePass(const std::string& name, const std::vector<Filter>& filters, double timestamp,
                               APMAudienceTimestampsCache& times, const PassTexts& texts, Evaluate evaluate,
                               StoredVerdict storedVerdict, AudienceStates& audiences) {
    for (const Filter& filter : filters) {
        auto [entry, isNew] = audiences.try_emplace(filter.audienceID);
        AudienceState& audience = entry->second;
        if (isNew) {
            auto read = database_->filterResultForAudienceID(filter.audienceID);
            if (read.failed()) {
                audiences.erase(entry);
                monitor()->log(1, texts.queryResultCode, texts.queryResult, name, *read.error);
                return false;
            }
            audience.stored = std::move(read.value);
            if (audience.stored) audience.current = APMAudienceResultData::decode(audience.stored->currentResults);
        }
        const bool wasTrue = audience.isTrue(filter.filterID);
        // A static filter stays true once true.
        if (wasTrue && !filter.isDynamic && !filter.isSequence && !filter.isSessionScoped) continue;
        const APMAudienceVerdict verdict = evaluate(filter);
        if (!verdict) continue;
        times.populateCachedTimestamps(audience.stored, filter.audienceID);
        if (*verdict) times.addEvaluationTimestamp(timestamp, filter);
        const bool stored = storedVerdict(filter, *verdict, wasTrue);
        APMAudienceResultData& data = audience.current ? *audience.current : audience.current.emplace();
        data.setVerdict(filter.filterID, stored);
        data.dynamicFilterTimestamps = times.dynamicTimestampsForAudienceID(filter.audienceID);
        if (auto sequences = times.sequenceTimestampsForAudienceID(filter.audienceID)) {
            data.sequenceFilterTimestamps = std::move(*sequences);
        }
        audience.updated = true;
        audience.dirty = true;
    }
    return true;
}

bool APMAudience::writeUpdated(const std::string& name, AudienceStates& audiences, const PassTexts& texts) {
    std::vector<APMFilterResult> updates;
    for (const auto& [audienceID, audience] : audiences) {
        if (!audience.dirty) continue;
        updates.push_back({audienceID, audience.current->encoded(),
                           audience.stored ? audience.stored->previousResults : APMBytes{}});
    }
    APMError error;
    if (!updates.empty() && !database_->updateFilterResults(updates, &error)) {
        monitor()->log(1, texts.saveCode, texts.save, name, error);
        return false;
    }
    for (auto& [audienceID, audience] : audiences) audience.dirty = false;
    return true;
}

namespace {

constexpr APMAudience::PassTexts kEventTexts{
    6000, "Unable to query event filters for event. Event will not be evaluated. Event name, error",
    6001, "Unable to query filter result for audience. Event will not be evaluated. Event name, error",
    6035, "Event filter contains no data or corrupt data. Event will not be evaluated. Event name, filter ID, "
          "audience ID, dynamic",
    6003, "Unable to save updated Audience filter results. Event will not be evaluated. Event name, error"};

constexpr APMAudience::PassTexts kPropertyTexts{
    6004, "Unable to query property filters for property. Property will not be evaluated. Property name, error",
    6005, "Unable to query filter result for audience. Property will not be evaluated. Property name, error",
    6036, "User property filter contains no data or corrupt data. User property will not be evaluated. User "
          "property name, filter ID, audience ID, dynamic",
    6007, "Unable to save updated Audience filter results. User property will not be evaluated. User property "
          "name, error"};

// The decoded filter of a row, or null (logged) when its data is empty or
// does not decode.
template <typename Message, typename Row>
std::shared_ptr<Message> decodedFilter(const Row& row, const std::string& name, const APMAudience::PassTexts& texts) {
    auto filter = row.data.empty() ? nullptr : Message::initWithBuffer(row.data);
    if (filter == nullptr) {
        monitor()->log(1, texts.corruptFilterCode, texts.corruptFilter,
                       {name, std::to_string(row.filterID), std::to_string(row.audienceID), row.isDynamic ? "1" : "0"});
    }
    return filter;
}

// The filter rows of `name`: the kept rows when they were read, else
// queried and kept. Null, with `*error` set, when the query failed.
template <typename Filter, typename Query>
const std::vector<Filter>* filtersNamed(const std::string& name, std::map<std::string, std::vector<Filter>>& known,
                                        APMError& error, Query query) {
    if (auto found = known.find(name); found != known.end()) return &found->second;
    auto read = query(name);
    if (read.failed() || !read.value) {
        error = errorOr(read.error);
        return nullptr;
    }
    // Names without filters are kept too; an app logging ever new names must
    // not grow the rows kept without bound.
    constexpr std::size_t kMaxKeptNames = 1000;
    if (known.size() >= kMaxKeptNames) known.clear();
    return &(known[name] = std::move(*read.value));
}

// The verdict of the row's filter, prepared once and kept in `prepared`.
// Only filters that decoded and passed their checks are kept: any other is
// read again at each use, and logged again.
template <typename Message, typename Row, typename Prepared, typename Prepare, typename Evaluate>
APMAudienceVerdict preparedVerdict(const Row& row, const std::string& name, const APMAudience::PassTexts& texts,
                                   std::map<std::pair<std::int32_t, std::int32_t>, Prepared>& prepared,
                                   Prepare prepare, Evaluate evaluate) {
    if (auto found = prepared.find({row.audienceID, row.filterID}); found != prepared.end()) {
        return evaluate(found->second);
    }
    auto filter = decodedFilter<Message>(row, name, texts);
    if (filter == nullptr) return std::nullopt;
    Prepared ready = prepare(*filter);
    APMAudienceVerdict verdict = evaluate(ready);
    if (ready.isComplete()) prepared.emplace(std::pair{row.audienceID, row.filterID}, std::move(ready));
    return verdict;
}

}  // namespace

struct APMAudience::FilterCache {
    std::uint64_t generation = 0;
    std::map<std::string, std::vector<APMEventFilter>> eventFilters;
    std::map<std::string, std::vector<APMPropertyFilter>> propertyFilters;
    // By (audience ID, filter ID).
    std::map<std::pair<std::int32_t, std::int32_t>, APMAudiencePreparedEventFilter> preparedEventFilters;
    std::map<std::pair<std::int32_t, std::int32_t>, APMAudiencePreparedPropertyFilter> preparedPropertyFilters;
};

APMAudience::FilterCache& APMAudience::filterCache() {
    const std::uint64_t generation = database_->audienceFiltersGeneration();
    if (filterCache_->generation != generation) {
        *filterCache_ = FilterCache();
        filterCache_->generation = generation;
    }
    return *filterCache_;
}

struct APMAudience::BundleState::Contents {
    AudienceStates audiences;
};

APMAudience::BundleState::BundleState(APMAudienceRegexBudget& regexBudget)
    : contents_(std::make_unique<Contents>()), regexBudget_(regexBudget) {}
APMAudience::BundleState::~BundleState() = default;

bool APMAudience::evaluateEvent(const std::string& eventName, const APMParameters& parameters,
                                const APMEventAggregates* aggregates, double eventTimestamp,
                                APMAudienceTimestampsCache& cache, BundleState* state) {
    FilterCache& kept = filterCache();
    APMError error;
    const std::vector<APMEventFilter>* filters = filtersNamed(
        eventName, kept.eventFilters, error,
        [this](const std::string& name) { return database_->eventFiltersForEventName(name); });
    if (filters == nullptr) {
        monitor()->log(1, kEventTexts.queryFiltersCode, kEventTexts.queryFilters, eventName, error);
        return false;
    }
    if (filters->empty()) return true;
    APMAudienceRegexBudget* budget = state ? &state->regexBudget_ : nullptr;
    auto evaluate = [&](const APMEventFilter& row) -> APMAudienceVerdict {
        return preparedVerdict<APMPBEventFilter>(
            row, eventName, kEventTexts, kept.preparedEventFilters, APMAudiencePrepareEventFilter,
            [&](const APMAudiencePreparedEventFilter& filter) {
                return APMAudienceEvaluatePreparedEventFilter(filter, eventName, parameters, aggregates, budget);
            });
    };
    // An event filter never turns from true to false here: only a session
    // start clears it.
    auto storedVerdict = [](const APMEventFilter&, bool verdict, bool wasTrue) { return verdict || wasTrue; };
    if (state) {
        return evaluatePass(eventName, *filters, eventTimestamp, cache, kEventTexts, evaluate, storedVerdict,
                            state->contents_->audiences);
    }
    AudienceStates audiences;
    return evaluatePass(eventName, *filters, eventTimestamp, cache, kEventTexts, evaluate, storedVerdict, audiences) &&
           writeUpdated(eventName, audiences, kEventTexts);
}

bool APMAudience::evaluateProperty(const APMUserAttribute& property, APMAudienceTimestampsCache& cache,
                                   double evaluationTimestamp, BundleState* state) {
    const std::string& name = property.name();
    FilterCache& kept = filterCache();
    APMError error;
    const std::vector<APMPropertyFilter>* filters =
        filtersNamed(name, kept.propertyFilters, error, [this](const std::string& propertyName) {
            return database_->propertyFiltersForPropertyName(propertyName);
        });
    if (filters == nullptr) {
        monitor()->log(1, kPropertyTexts.queryFiltersCode, kPropertyTexts.queryFilters, name, error);
        return false;
    }
    if (filters->empty()) return true;
    APMAudienceRegexBudget* budget = state ? &state->regexBudget_ : nullptr;
    auto evaluate = [&](const APMPropertyFilter& row) -> APMAudienceVerdict {
        return preparedVerdict<APMPBPropertyFilter>(
            row, name, kPropertyTexts, kept.preparedPropertyFilters, APMAudiencePreparePropertyFilter,
            [&](const APMAudiencePreparedPropertyFilter& filter) {
                return APMAudienceEvaluatePreparedPropertyFilter(filter, property, budget);
            });
    };
    // Only a dynamic filter outside session scope can turn false again.
    auto storedVerdict = [](const APMPropertyFilter& row, bool verdict, bool wasTrue) {
        if (verdict) return true;
        return row.isDynamic && !row.isSessionScoped ? false : wasTrue;
    };
    if (state) {
        return evaluatePass(name, *filters, evaluationTimestamp, cache, kPropertyTexts, evaluate, storedVerdict,
                            state->contents_->audiences);
    }
    AudienceStates audiences;
    return evaluatePass(name, *filters, evaluationTimestamp, cache, kPropertyTexts, evaluate, storedVerdict,
                        audiences) &&
           writeUpdated(name, audiences, kPropertyTexts);
}

bool APMAudience::evaluateFiltersForEventName(const std::string& eventName, const APMParameters& parameters,
                                              const APMEventAggregates* aggregates, double eventTimestamp,
                                              APMAudienceTimestampsCache* cache) {
    APMAudienceTimestampsCache passCache;
    return evaluateEvent(eventName, parameters, aggregates, eventTimestamp, cache ? *cache : passCache, nullptr);
}

bool APMAudience::evaluateFiltersForEventName(const std::string& eventName, const APMParameters& parameters,
                                              const APMEventAggregates* aggregates, double eventTimestamp,
                                              APMAudienceTimestampsCache& cache, BundleState& state) {
    return evaluateEvent(eventName, parameters, aggregates, eventTimestamp, cache, &state);
}

bool APMAudience::evaluateFiltersForUserProperty(const APMUserAttribute& property, APMAudienceTimestampsCache* cache,
                                                 double evaluationTimestamp) {
    APMAudienceTimestampsCache passCache;
    return evaluateProperty(property, cache ? *cache : passCache, evaluationTimestamp, nullptr);
}

namespace {

// The user property of a wire message, or none (logged 6039) without a value.
std::optional<APMUserAttribute> userAttributeFromNano(const APMPBUserAttribute& property) {
    std::optional<APMValue> value = APMUserAttributeValueFromProto(property);
    if (!value) {
        monitor()->log(2, 6039, "Could not convert user property from nano format.");
        return std::nullopt;
    }
    const double lastSet = static_cast<double>(APMPBGetInt64(property, UserAttributeSlot::SetTimestamp)) / 1000.0;
    return APMUserAttribute("", APMPBGetString(property, UserAttributeSlot::Name).value_or(""), std::move(*value),
                            lastSet);
}

}  // namespace

bool APMAudience::evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& property,
                                                     APMAudienceTimestampsCache* cache,
                                                     std::optional<double> evaluationTime) {
    std::optional<APMUserAttribute> attribute = userAttributeFromNano(property);
    if (!attribute) return false;
    return evaluateFiltersForUserProperty(*attribute, cache, evaluationTime.value_or(attribute->lastSetTimestamp()));
}

bool APMAudience::evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& property,
                                                     APMAudienceTimestampsCache& cache, double evaluationTime,
                                                     BundleState& state) {
    std::optional<APMUserAttribute> attribute = userAttributeFromNano(property);
    return attribute && evaluateProperty(*attribute, cache, evaluationTime, &state);
}

bool APMAudience::flushBundleState(BundleState& state) {
    static constexpr PassTexts kBundleTexts{0, "", 0, "", 0, "", kEventTexts.saveCode, kEventTexts.save};
    const bool written = writeUpdated("(bundle)", state.contents_->audiences, kBundleTexts);
    state.contents_->audiences.clear();
    return written;
}
