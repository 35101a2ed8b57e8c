#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::DatabaseTest;
using testing::ElementsAre;

namespace {

class UserAttributes : public DatabaseTest {
protected:
    void set(const std::string& name, APMValue value, double time = 1, const std::string& origin = "app") {
        ASSERT_TRUE(db().updateUserAttribute(APMUserAttribute(origin, name, std::move(value), time), nullptr));
    }
    std::vector<std::string> names(const APMResult<std::vector<APMUserAttribute>>& result) {
        std::vector<std::string> found;
        for (const auto& attribute : *result.value) found.push_back(attribute.name());
        return found;
    }
};

TEST_F(UserAttributes, ValuesKeepTheirTypeAndUpsertReplaces) {
    set("s", APMValue("text"));
    set("d", APMValue(2.5));
    set("i", APMValue(std::int64_t{7}), 3, "auto");
    EXPECT_EQ(db().userAttributeWithName("d").value, APMUserAttribute("app", "d", APMValue(2.5), 1));
    EXPECT_EQ(db().userAttributeWithName("s").value->value(), APMValue("text"));
    set("i", APMValue("now a string"), 4);
    EXPECT_EQ(db().userAttributeWithName("i").value, APMUserAttribute("app", "i", APMValue("now a string"), 4));
    EXPECT_EQ(db().containsUserAttributeWithName("i").value, true);

    ASSERT_TRUE(db().deleteUserAttributeWithName("i", nullptr));
    EXPECT_FALSE(db().userAttributeWithName("i").value);
    EXPECT_FALSE(db().userAttributeWithName("i").failed());
    EXPECT_EQ(db().containsUserAttributeWithName("i").value, false);
}

TEST_F(UserAttributes, ArrayValuesAndEmptyNamesAreRefused) {
    APMError error;
    EXPECT_FALSE(db().updateUserAttribute(APMUserAttribute("app", "a", APMValue(std::vector<APMParameters>{}), 1), &error));
    EXPECT_FALSE(db().updateUserAttribute(APMUserAttribute("app", "", APMValue(1), 1), &error));
    EXPECT_EQ(error.code, kAPMDatabaseErrorInvalidArgument);
}

TEST_F(UserAttributes, LifetimeValueQueryMatchesOnlyItsOwnNamesNewestFirst) {
    set("_ltv_USD", APMValue(std::int64_t{1}), 10);
    set("_ltv_EUR", APMValue(std::int64_t{2}), 20);
    set("xltvxUSD", APMValue(std::int64_t{3}), 30);  // "_" would match any character unescaped
    set("_ltvUSD", APMValue(std::int64_t{4}), 40);
    EXPECT_THAT(names(db().allLifetimeValueUserAttributes()), ElementsAre("_ltv_EUR", "_ltv_USD"));
}

TEST_F(UserAttributes, PublicCountsAndListsIgnoreInternalNames) {
    set("_fot", APMValue(std::int64_t{1}), 1, "auto");
    set("_sid", APMValue(std::int64_t{1}), 1, "auto");
    set("fav_food", APMValue("pie"));
    set("x_y", APMValue("z"));
    EXPECT_EQ(db().publicUserAttributeCount().value, 2);
    EXPECT_EQ(db().userAttributeCountForOrigin("auto").value, 2);
    EXPECT_EQ(db().userAttributeCountForOrigin("am").value, 0);
    EXPECT_THAT(names(db().userAttributesIncludingInternal(false)), ElementsAre("fav_food", "x_y"));
    EXPECT_EQ(db().userAttributesIncludingInternal(true).value->size(), 4u);
}

TEST_F(UserAttributes, DamagedRowIsAnErrorForItselfOnly) {
    set("good", APMValue("ok"));
    set("bad", APMValue("ok"));
    {
        APMError error;
        auto store = APMSqliteStore::open(path(), &error);
        ASSERT_TRUE(store->execute("UPDATE user_attributes SET value = x'00' WHERE name = 'bad'", {}).value);
    }
    EXPECT_TRUE(db().userAttributeWithName("bad").failed());
    EXPECT_THAT(names(db().userAttributesIncludingInternal(true)), ElementsAre("good"));
}

}  // namespace
