#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::bytesOf;
using storage_test::DatabaseTest;
using storage_test::TextMessageCodec;
using testing::ElementsAre;
using testing::Pair;
using testing::UnorderedElementsAre;

namespace {

APMBytes filterData(const char* session, const char* dynamic, const char* sequence) {
    return TextMessageCodec::encode("filter", {{"session", session}, {"dynamic", dynamic}, {"sequence", sequence}});
}

class AudienceFilters : public DatabaseTest {};

TEST_F(AudienceFilters, FilterRowsReadBackWithFlagsFromTheirData) {
    APMEventFilter scoped{1, 0, "_e", filterData("1", "0", "1"), true, false, true};
    APMEventFilter undecodable{2, 3, "_e", bytesOf("garbage"), false, false, false};
    ASSERT_TRUE(db().updateEventFilters({scoped, undecodable, APMEventFilter{2, 4, "other", filterData("0", "1", "0")}},
                                        nullptr));
    APMPropertyFilter property{3, 0, "_fot", filterData("1", "1", "0"), true, true, false};
    ASSERT_TRUE(db().updatePropertyFilters({property}, nullptr));

    EXPECT_THAT(*db().eventFiltersForEventName("_e").value, ElementsAre(scoped, undecodable));
    EXPECT_THAT(*db().propertyFiltersForPropertyName("_fot").value, ElementsAre(property));
    EXPECT_THAT(*db().allAudienceIDs().value, UnorderedElementsAre(1, 2, 3));
    EXPECT_THAT(*db().allSessionScopedFilters().value,
                UnorderedElementsAre(Pair(1, ElementsAre(0)), Pair(3, ElementsAre(0))));

    ASSERT_TRUE(db().deleteAllEventFilters(nullptr));
    EXPECT_TRUE(db().eventFiltersForEventName("_e").value->empty());
    EXPECT_THAT(*db().allAudienceIDs().value, ElementsAre(3));
    ASSERT_TRUE(db().deleteAllPropertyFilters(nullptr));
    EXPECT_TRUE(db().allAudienceIDs().value->empty());
}

TEST_F(AudienceFilters, EmptyNamesAndDataAreRefused) {
    APMError error;
    EXPECT_EQ(db().eventFiltersForEventName("").error->description, "Received empty event name for getting event filters");
    EXPECT_EQ(db().propertyFiltersForPropertyName("").error->description,
              "Received empty property name for getting property filters");
    EXPECT_FALSE(db().updateEventFilters({APMEventFilter{1, 1, "", filterData("0", "0", "0")}}, &error));
    EXPECT_EQ(error.description, "Received event filter with empty event name for getting dictionary representation");
    EXPECT_FALSE(db().updatePropertyFilters({APMPropertyFilter{1, 1, "p", {}}}, &error));
    EXPECT_TRUE(db().allAudienceIDs().value->empty()) << "a refused list stores none of its rows";
}

TEST_F(AudienceFilters, ResultsUpsertReadAndDeleteByAudience) {
    APMFilterResult first{5, bytesOf("current"), bytesOf("previous")};
    APMFilterResult second{6, bytesOf("c6"), {}};
    ASSERT_TRUE(db().updateFilterResults({first, second}, nullptr));
    EXPECT_EQ(db().filterResultForAudienceID(5).value, first);
    EXPECT_FALSE(db().filterResultForAudienceID(7).value);
    first.currentResults = bytesOf("newer");
    ASSERT_TRUE(db().updateFilterResults({first}, nullptr));
    EXPECT_THAT(*db().allFilterResults().value, UnorderedElementsAre(Pair(5, first), Pair(6, second)));

    ASSERT_TRUE(db().deleteFilterResults({second}, nullptr));
    EXPECT_THAT(*db().allFilterResults().value, ElementsAre(Pair(5, first)));

    APMError error;
    EXPECT_FALSE(db().updateFilterResults({}, &error));
    EXPECT_EQ(error.description, "Received empty filter results to update");
    EXPECT_FALSE(db().deleteFilterResults({}, &error));
    EXPECT_EQ(error.description, "Received empty filter results to delete");
}

}  // namespace
