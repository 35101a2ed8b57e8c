// A damaged audience result row (a column of the wrong type) reads as absent
// and is counted the same way by both result reads; the rows beside it stay
// readable.

#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

namespace {

using storage_test::bytesOf;

class DamagedFilterResult : public storage_test::DatabaseTest {};

TEST_F(DamagedFilterResult, BothReadsSkipAndCountTheRow) {
    const APMFilterResult sound{6, bytesOf("c6"), bytesOf("p6")};
    ASSERT_TRUE(db().updateFilterResults({sound, APMFilterResult{5, bytesOf("c5"), {}}}, nullptr));
    for (const char* damage : {"current_results = 'text'", "previous_results = 42"}) {
        SCOPED_TRACE(damage);
        APMError error;
        auto store = APMSqliteStore::open(path(), &error);
        ASSERT_TRUE(store->execute(std::string("UPDATE audience_filter_values SET ") + damage + " WHERE audience_id = 5",
                                   {}).value);

        std::int64_t damagedByOne = -1;
        auto one = db().filterResultForAudienceID(5, &damagedByOne);
        EXPECT_FALSE(one.failed());
        EXPECT_FALSE(one.value);
        std::int64_t damagedByAll = -1;
        auto all = db().allFilterResults(&damagedByAll);
        ASSERT_TRUE(all.value);
        EXPECT_EQ(*all.value, (std::map<std::int32_t, APMFilterResult>{{6, sound}}));
        EXPECT_EQ(damagedByOne, 1);
        EXPECT_EQ(damagedByAll, 1);
        EXPECT_EQ(db().filterResultForAudienceID(6).value, sound);
    }
}

}  // namespace
