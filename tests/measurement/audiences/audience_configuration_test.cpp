// Storing audience definitions from a fetched configuration.
#include <sqlite3.h>

#include "AudienceTestSupport.h"

namespace {

using namespace audience_test;

class AudienceConfiguration : public AudienceDatabaseTest {
protected:
    std::vector<APMEventFilter> eventRows(const std::string& name) {
        return database->eventFiltersForEventName(name).value.value_or(std::vector<APMEventFilter>{});
    }
    std::vector<APMPropertyFilter> propertyRows(const std::string& name) {
        return database->propertyFiltersForPropertyName(name).value.value_or(std::vector<APMPropertyFilter>{});
    }
    // Runs SQL on a second connection to the same file, as damage from
    // outside would arrive.
    void execute(const std::string& sql) {
        sqlite3* connection = nullptr;
        ASSERT_EQ(sqlite3_open(database->databasePath().c_str(), &connection), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(connection);
    }
    void storeResult(std::int32_t audienceID) {
        APMAudienceResultData data;
        data.setVerdict(0, true);
        ASSERT_TRUE(database->updateFilterResults({{audienceID, data.encoded(), {}}}, nullptr));
    }
};

std::shared_ptr<APMPBAudience> simple(std::int32_t audienceID, const std::string& eventName = "purchase") {
    return audience(audienceID, {eventFilter(0, eventName)});
}

TEST_F(AudienceConfiguration, EveryInvalidDefinitionIsRefusedWithItsReason) {
    auto number = [] { return test(numberFilter(2, "1")); };
    auto named = [](std::shared_ptr<APMPBFilter> filter) {
        APMPBSetString(*filter, FilterSlot::ParamName, "value");
        return filter;
    };
    auto floatCount = numberFilter(2, "1");
    APMPBSetBool(*floatCount, NumberFilterSlot::MatchAsFloat, true);
    std::vector<std::shared_ptr<APMPBEventFilter>> eleven;
    for (int id = 0; id < 11; ++id) eleven.push_back(eventFilter(id % 10, "e"));
    std::vector<std::shared_ptr<APMPBFilter>> twentySix(26, named(number()));
    auto unnamedEvent = eventFilter(0, "e");
    APMPBClearField(*unnamedEvent, EventFilterSlot::EventName);
    auto eventWithoutID = eventFilter(0, "e");
    APMPBClearField(*eventWithoutID, EventFilterSlot::FilterID);
    auto propertyWithoutID = propertyFilter(0, "p", number());
    APMPBClearField(*propertyWithoutID, PropertyFilterSlot::FilterID);

    struct Case {
        std::shared_ptr<APMPBAudience> definition;
        std::string reason;
    };
    const Case cases[] = {
        {audience(std::nullopt, {eventFilter(0, "e")}), "Missing audience ID"},
        {audience(-1, {eventFilter(0, "e")}), "Audience ID is negative"},
        {audience(1, {}), "Audience filter count out of range"},
        {audience(1, eleven), "Audience filter count out of range"},
        {audience(1, {unnamedEvent}), "Event filter missing event name"},
        {audience(1, {eventWithoutID}), "Missing event filter ID"},
        {audience(1, {eventFilter(10, "e")}), "Event filter ID is out of range"},
        {audience(1, {eventFilter(-1, "e")}), "Event filter ID is out of range"},
        {audience(1, {eventFilter(3, "e"), eventFilter(3, "f")}), "Duplicate event filter ID"},
        {audience(1, {eventFilter(0, "e", {}, floatCount)}), "Event filter has float event count filter"},
        {audience(1, {eventFilter(0, "e", {}, numberFilter(0, "1"))}), "Event filter has invalid event count filter"},
        {audience(1, {eventFilter(0, "e", twentySix)}), "Event filter parameters filters count out of range"},
        {audience(1, {eventFilter(0, "e", {number()})}), "Event filter missing parameter name"},
        {audience(1, {eventFilter(0, "e", {named(test(numberFilter(2, "1"), stringFilter(5, "x")))})}),
         "Event filter must have exactly one of number or string filter"},
        {audience(1, {eventFilter(0, "e", {named(test(nullptr))})}),
         "Event filter must have exactly one of number or string filter"},
        {audience(1, {eventFilter(0, "e", {named(test(numberFilter(3, "1,5")))})}),
         "Event filter has invalid number filter"},
        {audience(1, {eventFilter(0, "e", {named(test(nullptr, stringFilter(1, "[")))})}),
         "Event filter has invalid string filter"},
        {audience(1, {}, {propertyFilter(0, "", number())}), "Property filter missing property name"},
        {audience(1, {}, {propertyWithoutID}), "Missing property filter ID"},
        {audience(1, {}, {propertyFilter(10, "p", number())}), "Property filter ID is out of range"},
        {audience(1, {}, {propertyFilter(2, "p", number()), propertyFilter(2, "q", number())}),
         "Duplicate property filter ID"},
        {audience(1, {}, {propertyFilter(0, "p", nullptr)}), "Property filter has no filter"},
        {audience(1, {}, {propertyFilter(0, "p", test(nullptr))}),
         "Property filter must have exactly one of number or string filter"},
        {audience(1, {}, {propertyFilter(0, "p", test(between("1", "")))}),
         "Property filter has invalid number filter"},
        {audience(1, {}, {propertyFilter(0, "p", test(nullptr, stringFilter(6, "")))}),
         "Property filter has invalid string filter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        monitor.clear();
        // The refused audience is left out whole; the valid one beside it is saved.
        define({c.definition, simple(7, "valid")});
        auto refusals = monitor.linesWithCode(6009);
        ASSERT_EQ(refusals.size(), 1u);
        EXPECT_NE(refusals[0].find(c.reason), std::string::npos) << refusals[0];
        EXPECT_EQ(database->allAudienceIDs().value, std::vector<std::int32_t>{7});
    }
}

TEST_F(AudienceConfiguration, DuplicateAudienceKeepsTheFirst) {
    define({audience(1, {eventFilter(0, "first")}), audience(1, {eventFilter(0, "second")})});
    EXPECT_EQ(eventRows("first").size(), 1u);
    EXPECT_TRUE(eventRows("second").empty());
    ASSERT_EQ(monitor.linesWithCode(6009).size(), 1u);
    EXPECT_NE(monitor.linesWithCode(6009)[0].find("Duplicate audience ID"), std::string::npos);
}

TEST_F(AudienceConfiguration, StoresRowsWithInternalNamesAndFlags) {
    define({audience(3,
                     {eventFilter(9, "first_open", {test(numberFilter(2, "1"), nullptr, "custom_value")}, nullptr,
                                  {.dynamic = true, .sessionScoped = true})},
                     {propertyFilter(3, "first_open_time", test(numberFilter(2, "1")), {.sequence = true})})});
    auto events = eventRows("_f");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].audienceID, 3);
    EXPECT_EQ(events[0].filterID, 9);
    EXPECT_TRUE(events[0].isDynamic && events[0].isSessionScoped && !events[0].isSequence);
    auto stored = APMPBEventFilter::initWithBuffer(events[0].data);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(APMPBGetString(*stored, EventFilterSlot::EventName), "_f");
    auto parameters = APMPBGetMessages<APMPBFilter>(*stored, EventFilterSlot::Filters);
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(APMPBGetString(*parameters[0], FilterSlot::ParamName), "custom_value");
    auto properties = propertyRows("_fot");
    ASSERT_EQ(properties.size(), 1u);
    EXPECT_EQ(properties[0].filterID, 3);  // the same ID as an event filter of the audience
    EXPECT_TRUE(properties[0].isSequence);
}

TEST_F(AudienceConfiguration, TooManyAudiencesChangeNothing) {
    define({simple(1, "kept")});
    std::vector<std::shared_ptr<APMPBAudience>> many;
    for (int id = 0; id < 101; ++id) many.push_back(simple(100 + id, "new"));
    EXPECT_TRUE(audiences->updateAudiences(many));
    ASSERT_EQ(monitor.linesWithCode(6008).size(), 1u);
    EXPECT_NE(monitor.linesWithCode(6008)[0].find("101"), std::string::npos);
    EXPECT_EQ(eventRows("kept").size(), 1u);
    EXPECT_TRUE(eventRows("new").empty());
}

TEST_F(AudienceConfiguration, EmptyConfigurationClearsFiltersButKeepsResults) {
    define({simple(1), audience(2, {}, {propertyFilter(0, "p", test(numberFilter(2, "1")))})});
    storeResult(1);
    define({});
    EXPECT_TRUE(database->allAudienceIDs().value->empty());
    EXPECT_TRUE(storedResult(1).has_value());
}

TEST_F(AudienceConfiguration, StaleResultsArePrunedOnlyAboveTheLimit) {
    settings.maxFilterResultCount = 3;
    define({simple(1), simple(2)});
    for (std::int32_t id : {1, 2, 3}) storeResult(id);
    define({simple(1), simple(2)});
    EXPECT_EQ(database->allFilterResults().value->size(), 3u);  // at the limit: nothing pruned
    storeResult(4);
    // 2 is among the definitions being replaced and 1 is new: 3 and 4 are stale.
    define({simple(1)});
    EXPECT_EQ(monitor.linesWithCode(6016).size(), 1u);
    auto left = *database->allFilterResults().value;
    EXPECT_EQ(left.size(), 2u);
    EXPECT_TRUE(left.contains(1) && left.contains(2));
}

TEST_F(AudienceConfiguration, FailedStoreRollsBackInTheCallersTransaction) {
    define({simple(1, "old")});
    execute("CREATE TRIGGER refuse BEFORE INSERT ON property_filters BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    const bool committed = database->performTransaction([&] {
        return audiences->updateAudiences({audience(2, {eventFilter(0, "new")}, {propertyFilter(0, "p",
                                                                                     test(numberFilter(2, "1")))})});
    });
    EXPECT_FALSE(committed);
    EXPECT_EQ(monitor.linesWithCode(6013).size(), 1u);
    EXPECT_EQ(eventRows("old").size(), 1u);
    EXPECT_TRUE(eventRows("new").empty());
}

// The evaluator keeps the filters it read between evaluations; whatever
// replaces or restores the stored filters is seen by the next evaluation.
TEST_F(AudienceConfiguration, EvaluationSeesEveryChangeOfTheStoredFilters) {
    APMEventAggregates aggregates("purchase", 1, 1, 1, 100);
    auto evaluate = [&] { return audiences->evaluateFiltersForEventName("purchase", {}, &aggregates, 100, nullptr); };
    const struct {
        const char* change;
        std::function<void()> apply;
        std::set<std::int32_t> evaluatedAudiences;
    } cases[] = {
        {"a new configuration", [&] { define({simple(2)}); }, {2}},
        {"a configuration rolled back after an evaluation",
         [&] {
             EXPECT_FALSE(database->performTransaction([&] {
                 return audiences->updateAudiences({simple(2)}) && evaluate() && false;
             }));
         },
         {1}},
        {"a reset", [&] { ASSERT_TRUE(database->reset(nullptr)); }, {}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.change);
        define({simple(1)});
        ASSERT_TRUE(evaluate());
        ASSERT_TRUE(database->deleteFilterResults({{1, {}, {}}}, nullptr));
        testCase.apply();
        ASSERT_TRUE(evaluate());
        std::set<std::int32_t> evaluated;
        const auto results = database->allFilterResults();
        for (const auto& [audienceID, result] : *results.value) evaluated.insert(audienceID);
        EXPECT_EQ(evaluated, testCase.evaluatedAudiences);
        if (!evaluated.empty()) {
            ASSERT_TRUE(database->deleteFilterResults({{*evaluated.begin(), {}, {}}}, nullptr));
        }
    }
}

}  // namespace
