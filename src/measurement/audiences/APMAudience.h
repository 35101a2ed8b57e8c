#pragma once
// APMAudience: the server-defined audiences of the measurement database.
//
// A fetched configuration replaces the stored audience definitions
// (updateAudiences, run inside the caller's transaction). While raw events
// are packed into a bundle, every event and user property of the bundle is
// evaluated against the stored filters of its name (one indexed query per
// name, kept until the filter tables change), and each verdict is folded into its audience's stored
// result: a bit set of evaluated filters, a bit set of true filters and the
// evaluation times of dynamic, session-scoped and sequence filters. The
// results travel with the bundle (resultsForBundling), which rotates the
// current result into the previous one.
//
// Every method runs on the measurement worker queue and takes no lock. A
// false answer means a database step failed; the method has then written
// nothing of its own pass, and the caller's transaction rolls back the rest.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "measurement/audiences/APMAudienceRegexBudget.h"
#include "measurement/audiences/APMAudienceResultData.h"
#include "measurement/audiences/APMAudienceTimestampsCache.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/AudienceValidation.h"
#include "measurement/storage/APMAudienceFilters.h"
#include "measurement/storage/APMEventAggregates.h"
#include "measurement/storage/APMUserAttribute.h"
#include "measurement/storage/APMValue.h"

class APMDatabase;
class APMEvent;

// The remote configuration's audience bounds, asked at each update.
struct APMAudienceSettings {
    std::int32_t maxAudienceCount = 100;
    std::int32_t maxFilterResultCount = 200;
    // Filters per audience (and the bound of filter IDs), parameter filters
    // per event filter.
    APMAudienceLimits filterLimits;
};

class APMAudience {
public:
    // `settings` (default: the built-in defaults) is asked at each update.
    explicit APMAudience(std::shared_ptr<APMDatabase> database, std::function<APMAudienceSettings()> settings = {});
    ~APMAudience();

    // Configuration. Too many audiences change nothing and answer true;
    // invalid audiences are skipped alone (6009); false only when a database
    // step failed (6010-6018), after which the caller must roll back.
    [[nodiscard]] bool updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>& audiences);
    // Above the stored-result limit, deletes the results of audiences that
    // are neither stored now nor among `newAudienceIDs`.
    [[nodiscard]] bool maybeDeleteStaleFilterResults(const std::set<std::int32_t>& newAudienceIDs);

    // Evaluation of one event or user property against the filters of its
    // name. Without a cache a fresh one serves this call alone.
    [[nodiscard]]
    bool evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates* aggregates,
                                 APMAudienceTimestampsCache* cache);
    [[nodiscard]]
    bool evaluateFiltersForEventName(const std::string& eventName, const APMParameters& parameters,
                                     const APMEventAggregates* aggregates, double eventTimestamp,
                                     APMAudienceTimestampsCache* cache);
    [[nodiscard]]
    bool evaluateFiltersForUserProperty(const APMUserAttribute& property, APMAudienceTimestampsCache* cache,
                                        double evaluationTimestamp);
    // The property as its wire message (string, else double, else integer
    // value; set time in milliseconds). Without an evaluation time the
    // property's set time is used. A message without a value logs 6039 and
    // answers false.
    [[nodiscard]]
    bool evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& property, APMAudienceTimestampsCache* cache,
                                            std::optional<double> evaluationTime);

    // What one bundle keeps between its evaluation calls, so that a bundle
    // of many events costs little more than the events themselves: the
    // result of each audience touched, read once and written back once by
    // flushBundleState. Owned by the bundle's pass, with the bundle's budget
    // for regular expressions. (The filter rows of each name and their
    // prepared filters are kept by the evaluator across bundles.)
    class BundleState {
    public:
        explicit BundleState(APMAudienceRegexBudget& regexBudget);
        ~BundleState();
        BundleState(const BundleState&) = delete;
        BundleState& operator=(const BundleState&) = delete;

    private:
        friend class APMAudience;
        struct Contents;
        std::unique_ptr<Contents> contents_;
        APMAudienceRegexBudget& regexBudget_;
    };
    // The evaluations above, with the bundle's state: results are updated in
    // `state` only, until flushBundleState writes them in one batch.
    [[nodiscard]]
    bool evaluateFiltersForEventName(const std::string& eventName, const APMParameters& parameters,
                                     const APMEventAggregates* aggregates, double eventTimestamp,
                                     APMAudienceTimestampsCache& cache, BundleState& state);
    [[nodiscard]]
    bool evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& property, APMAudienceTimestampsCache& cache,
                                            double evaluationTime, BundleState& state);
    // Writes the results updated in `state` (6003 on failure) and forgets
    // them, since bundling rotates the stored results next.
    [[nodiscard]] bool flushBundleState(BundleState& state);

    // Results.
    // The leaf result of every stored audience with an evaluated filter, for
    // the bundle's field 29; each stored result then keeps its current data
    // as its previous data. False (and `*results` emptied) on a database
    // failure.
    [[nodiscard]]
    bool resultsForBundling(std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>>* results);
    // At a session start: clears the bits and times of session-scoped
    // filters; a result left without an evaluated filter is deleted.
    [[nodiscard]] bool clearEvaluationResultsForSessionScopedFilters();

    // Both bits of the filter set in the result's current data. A result
    // whose data has no status or no results words logs 6023 (level 2).
    static bool isFilterResult(const std::optional<APMFilterResult>& result, std::int32_t filterID);
    // The result with the verdict folded in (status bit set when a verdict is
    // given, result bit its truth) and the cache's times of the audience; the
    // previous data is kept.
    static APMFilterResult updatedFilterResult(std::int32_t filterID, std::int32_t audienceID,
                                               const std::optional<APMFilterResult>& currentResult,
                                               std::optional<bool> newEvaluationResult,
                                               const APMAudienceTimestampsCache& cache);

    // The log texts of one kind of pass (events, user properties).
    struct PassTexts;

private:
    struct AudienceState;
    using AudienceStates = std::map<std::int32_t, AudienceState>;
    template <typename Filter, typename Evaluate, typename StoredVerdict>
    [[nodiscard]]
    bool evaluatePass(const std::string& name, const std::vector<Filter>& filters, double timestamp,
                      APMAudienceTimestampsCache& cache, const PassTexts& texts, Evaluate evaluate,
                      StoredVerdict storedVerdict, AudienceStates& audiences);
    // Writes the updated states in one batch; false (logged with `texts`)
    // when the write failed.
    [[nodiscard]] bool writeUpdated(const std::string& name, AudienceStates& audiences, const PassTexts& texts);
    [[nodiscard]]
    bool evaluateEvent(const std::string& eventName, const APMParameters& parameters,
                       const APMEventAggregates* aggregates, double eventTimestamp, APMAudienceTimestampsCache& cache,
                       BundleState* state);
    [[nodiscard]]
    bool evaluateProperty(const APMUserAttribute& property, APMAudienceTimestampsCache& cache,
                          double evaluationTimestamp, BundleState* state);

    APMAudienceSettings settings() const;

    // The filter rows read by name and the filters prepared from them, kept
    // across evaluations while the database's filter generation stays the
    // same (a new configuration, its rollback or a reset changes it).
    struct FilterCache;
    FilterCache& filterCache();

    std::shared_ptr<APMDatabase> database_;
    std::function<APMAudienceSettings()> settings_;
    std::unique_ptr<FilterCache> filterCache_;
};
