// Result bits, evaluation times, bundling rotation and session clearing.
#include <sqlite3.h>

#include "AudienceTestSupport.h"
#include "measurement/audiences/APMAudienceBundlePass.h"

namespace {

using namespace audience_test;

class AudienceResults : public AudienceDatabaseTest {
protected:
    std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>> bundle() {
        std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>> leaves;
        EXPECT_TRUE(audiences->resultsForBundling(&leaves));
        return leaves;
    }
    static std::optional<APMAudienceResultData> leafData(const APMPBAudienceLeafFilterResult& leaf, int slot) {
        auto data = APMPBGetMessage<APMPBResultData>(leaf, slot);
        if (!data) return std::nullopt;
        return APMAudienceResultData::fromMessage(*data);
    }
};

TEST(AudienceResultBits, GrowAndClearPerFilter) {
    APMAudienceTimestampsCache cache;
    APMFilterResult result = APMAudience::updatedFilterResult(0, 5, std::nullopt, true, cache);
    result = APMAudience::updatedFilterResult(63, 5, result, true, cache);
    auto data = APMAudienceResultData::decode(result.currentResults);
    EXPECT_EQ(data->status, (std::vector<std::uint64_t>{0x8000000000000001}));
    result = APMAudience::updatedFilterResult(64, 5, result, false, cache);
    data = APMAudienceResultData::decode(result.currentResults);
    EXPECT_EQ(data->status, (std::vector<std::uint64_t>{0x8000000000000001, 1}));
    EXPECT_EQ(data->results, (std::vector<std::uint64_t>{0x8000000000000001, 0}));
    result = APMAudience::updatedFilterResult(63, 5, result, std::nullopt, cache);
    data = APMAudienceResultData::decode(result.currentResults);
    EXPECT_EQ(data->status[0], 1u);
    EXPECT_EQ(data->results[0], 1u);
    EXPECT_TRUE(APMAudience::isFilterResult(result, 0));
    EXPECT_FALSE(APMAudience::isFilterResult(result, 64));
    EXPECT_FALSE(APMAudience::isFilterResult(result, 128));
}

TEST(AudienceTimestamps, SequenceAndDynamicTimesFollowTheirRules) {
    storage_test::MonitorCapture monitor;
    APMAudienceTimestampsCache cache;
    APMEventFilter sequence{1, 0, "e", {}, false, false, true};
    cache.addEvaluationTimestamp(100.2, sequence);
    cache.addEvaluationTimestamp(100.7, sequence);
    cache.addEvaluationTimestamp(99, sequence);
    EXPECT_EQ(monitor.linesWithCode(42000).size(), 1u);
    EXPECT_EQ(cache.sequenceTimestampsForAudienceID(1)->at(0).evalTimestamps, (std::vector<std::int64_t>{99, 100}));

    APMEventFilter dynamic{1, 1, "e", {}, false, true, false};
    cache.addEvaluationTimestamp(200, dynamic);
    cache.addEvaluationTimestamp(150, dynamic);
    EXPECT_EQ(monitor.linesWithCode(6037).size(), 1u);
    EXPECT_EQ(cache.dynamicTimestampsForAudienceID(1), (std::vector<APMAudienceDynamicTimestamp>{{1, 200}}));

    APMPropertyFilter property{2, 4, "p", {}, false, false, true};
    for (double time : {10.0, 20.0, 30.0}) cache.addEvaluationTimestamp(time, property);
    EXPECT_EQ(cache.sequenceTimestampsForAudienceID(2)->at(0).evalTimestamps, (std::vector<std::int64_t>{30}));
    // A static filter keeps no time.
    cache.addEvaluationTimestamp(5, APMEventFilter{3, 0, "e", {}, false, false, false});
    EXPECT_TRUE(cache.dynamicTimestampsForAudienceID(3).empty());
    EXPECT_FALSE(cache.sequenceTimestampsForAudienceID(3));
}

TEST_F(AudienceResults, BundlingRotatesCurrentIntoPrevious) {
    define({audience(1, {eventFilter(0, "a"), eventFilter(1, "b")})});
    ASSERT_TRUE(logEvent("a"));
    auto first = bundle();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(APMPBGetInt32(*first[0], 0), 1);
    EXPECT_TRUE(APMPBGetBool(*first[0], 3));
    EXPECT_FALSE(leafData(*first[0], 2));
    const auto bundledData = leafData(*first[0], 1);

    auto second = bundle();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_FALSE(APMPBGetBool(*second[0], 3));
    EXPECT_TRUE(APMPBHasField(*second[0], 3));
    EXPECT_FALSE(leafData(*second[0], 2));

    ASSERT_TRUE(logEvent("b"));
    auto third = bundle();
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(leafData(*third[0], 2), bundledData);
    EXPECT_TRUE(leafData(*third[0], 1)->isTrue(1));
}

TEST_F(AudienceResults, UnchangedSequenceIsSentWithItsLastTime) {
    APMAudienceResultData data;
    data.setVerdict(0, true);
    data.sequenceFilterTimestamps = {{0, {5, 9}}};
    ASSERT_TRUE(database->updateFilterResults({{1, data.encoded(), data.encoded()}}, nullptr));
    auto leaves = bundle();
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leafData(*leaves[0], 1)->sequenceFilterTimestamps[0].evalTimestamps, (std::vector<std::int64_t>{9}));
    EXPECT_EQ(currentData(1).sequenceFilterTimestamps[0].evalTimestamps, (std::vector<std::int64_t>{9}));
}

TEST_F(AudienceResults, UnusableResultsAreNotBundled) {
    APMAudienceResultData cleared;
    cleared.setVerdict(3, std::nullopt);
    ASSERT_TRUE(database->updateFilterResults({{1, {0xff, 0x01}, {}}, {2, cleared.encoded(), {}}}, nullptr));
    EXPECT_TRUE(bundle().empty());
    EXPECT_EQ(monitor.linesWithCode(6020).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(6021).size(), 1u);
}

TEST_F(AudienceResults, SessionStartClearsSessionScopedFilters) {
    define({audience(1, {eventFilter(0, "e", {}, nullptr, {.sessionScoped = true})}),
            audience(2, {eventFilter(0, "e", {}, nullptr, {.dynamic = true, .sessionScoped = true}),
                         eventFilter(1, "e", {}, nullptr, {.dynamic = true})})});
    ASSERT_TRUE(logEvent("e", {}, 500));
    ASSERT_TRUE(audiences->clearEvaluationResultsForSessionScopedFilters());
    EXPECT_FALSE(storedResult(1));
    auto kept = currentData(2);
    EXPECT_FALSE(isEvaluated(2, 0));
    EXPECT_TRUE(kept.isTrue(1));
    EXPECT_EQ(kept.dynamicFilterTimestamps, (std::vector<APMAudienceDynamicTimestamp>{{1, 500}}));
}

TEST_F(AudienceResults, BundlePassFillsTheBundle) {
    define({audience(1, {eventFilter(0, "e", {}, nullptr, {.sessionScoped = true})},
                     {propertyFilter(1, "p", test(nullptr, stringFilter(2, "gold")), {.dynamic = true})})});
    auto measurementBundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    const std::vector<std::shared_ptr<APMPBUserAttribute>> properties{nanoProperty("p", 50, "Golden")};
    APMAudienceBundlePass pass(*audiences);
    ASSERT_TRUE(pass.startSession(properties));
    ASSERT_TRUE(pass.evaluateEvent("e", {}, 120, APMEventAggregates("e", 1, 1, 1, 120)));
    ASSERT_TRUE(pass.finish(properties, 110, *measurementBundle));
    auto leaves = APMPBGetMessages<APMPBAudienceLeafFilterResult>(*measurementBundle,
                                                                   MeasurementBundleSlot::AudienceEvaluationResults);
    ASSERT_EQ(leaves.size(), 1u);
    auto current = leafData(*leaves[0], 1);
    EXPECT_TRUE(current->isTrue(0) && current->isTrue(1));
    EXPECT_EQ(current->dynamicFilterTimestamps, (std::vector<APMAudienceDynamicTimestamp>{{0, 120}, {1, 110}}));
}

TEST_F(AudienceResults, BundlePassCarriesTimesAcrossItsEvents) {
    auto positive = test(numberFilter(2, "0"), nullptr, "value");
    define({audience(1, {eventFilter(0, "e", {positive}, nullptr, {.dynamic = true}),
                         eventFilter(1, "e", {positive}, nullptr, {.sequence = true}),
                         eventFilter(2, "e", {positive})})});
    auto measurementBundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMAudienceBundlePass pass(*audiences);
    for (double time : {10.0, 20.0, 30.0}) {
        const APMParameters parameters{{"value", APMValue(time == 30.0 ? std::int64_t{-1} : std::int64_t{1})}};
        ASSERT_TRUE(pass.evaluateEvent("e", parameters, time, APMEventAggregates("e", 1, 1, 1, time)));
    }
    // Nothing is written before the pass finishes.
    EXPECT_FALSE(storedResult(1));
    ASSERT_TRUE(pass.finish({}, 10, *measurementBundle));
    auto leaves = APMPBGetMessages<APMPBAudienceLeafFilterResult>(*measurementBundle,
                                                                   MeasurementBundleSlot::AudienceEvaluationResults);
    ASSERT_EQ(leaves.size(), 1u);
    auto current = leafData(*leaves[0], 1);
    EXPECT_TRUE(current->isTrue(0) && current->isTrue(1) && current->isTrue(2));
    EXPECT_EQ(current->dynamicFilterTimestamps, (std::vector<APMAudienceDynamicTimestamp>{{0, 20}}));
    EXPECT_EQ(current->sequenceFilterTimestamps,
              (std::vector<APMAudienceSequenceTimestamps>{{1, {10, 20}}}));
    EXPECT_EQ(currentData(1), *current);
}

TEST_F(AudienceResults, FailingDatabaseRollsTheBundleEvaluationBack) {
    define({audience(1, {eventFilter(0, "a")}), audience(2, {eventFilter(0, "b")})});
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open(database->databasePath().c_str(), &connection), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(connection,
                           "CREATE TRIGGER refuse BEFORE INSERT ON audience_filter_values WHEN NEW.audience_id = 2 "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(connection);
    auto measurementBundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMAudienceBundlePass pass(*audiences);
    const bool committed = database->performTransaction([&] {
        return pass.evaluateEvent("a", {}, 10, APMEventAggregates("a", 1, 1, 1, 10)) &&
               pass.evaluateEvent("b", {}, 11, APMEventAggregates("b", 1, 1, 1, 11)) &&
               pass.finish({}, 10, *measurementBundle);
    });
    EXPECT_FALSE(committed);
    EXPECT_EQ(monitor.linesWithCode(6003).size(), 1u);
    EXPECT_FALSE(storedResult(1));
}

}  // namespace
