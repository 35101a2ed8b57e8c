#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::bytesOf;
using storage_test::DatabaseTest;
using testing::UnorderedElementsAre;

namespace {

class ConditionalProperties : public DatabaseTest {
protected:
    APMConditionalUserPropertyRecord waiting(const std::string& name, const std::string& trigger, double timeout) {
        APMConditionalUserPropertyRecord property;
        property.name = name;
        property.origin = "app";
        property.value = APMValue("v");
        property.creationTimestamp = clock_.now();
        property.triggerEventName = trigger;
        property.triggerTimeout = timeout;
        property.timeToLive = 100;
        return property;
    }
    void store(const APMConditionalUserPropertyRecord& property) {
        APMError error;
        ASSERT_TRUE(db().updateConditionalUserProperty(property, &error)) << error.text();
    }
    std::vector<std::string> names(const APMResult<std::vector<APMConditionalUserPropertyRecord>>& result) {
        EXPECT_FALSE(result.failed()) << (result.error ? result.error->text() : "");
        std::vector<std::string> found;
        if (result.value) {
            for (const auto& property : *result.value) found.push_back(property.name);
        }
        return found;
    }
};

TEST_F(ConditionalProperties, RowsRoundTripWithOptionalColumns) {
    auto property = waiting("p", "level_up", 60);
    property.value = APMValue(2.5);
    property.triggeredEvent = bytesOf("triggered");
    property.expiredEvent = bytesOf("expired");
    store(property);
    EXPECT_EQ(db().conditionalUserPropertyWithName("p").value, property);

    auto plain = waiting("q", "", 60);
    plain.value = APMValue(std::int64_t{3});
    store(plain);
    auto read = db().conditionalUserPropertyWithName("q");
    EXPECT_FALSE(read.value->triggerEventName) << "an empty trigger name is not written";
    EXPECT_EQ(read.value->value, APMValue(std::int64_t{3}));
    EXPECT_FALSE(db().conditionalUserPropertyWithName("none").value);
}

TEST_F(ConditionalProperties, RecordsWithoutNameOriginOrValueAreRefused) {
    APMError error;
    auto property = waiting("", "t", 1);
    EXPECT_FALSE(db().updateConditionalUserProperty(property, &error));
    EXPECT_EQ(error.description,
              "Received conditional user property with empty name for getting dictionary representation");
    property = waiting("p", "t", 1);
    property.origin = "";
    EXPECT_FALSE(db().updateConditionalUserProperty(property, &error));
    property = waiting("p", "t", 1);
    property.value.reset();
    EXPECT_FALSE(db().updateConditionalUserProperty(property, &error));
}

TEST_F(ConditionalProperties, TimeOutsExpiriesAndTriggersFollowTheClock) {
    store(waiting("soon", "buy", 10));
    store(waiting("later", "buy", 1000));
    auto active = waiting("active", "", 10);
    active.active = true;
    active.triggeredTimestamp = clock_.now();
    active.timeToLive = 50;
    store(active);

    clock_.advance(10);  // exactly at the time-out: still waiting
    EXPECT_TRUE(names(db().timedOutConditionalUserProperties()).empty());
    EXPECT_THAT(names(db().triggeredConditionalUserPropertiesWithEventName("buy")), UnorderedElementsAre("soon", "later"));

    clock_.advance(1);
    EXPECT_THAT(names(db().timedOutConditionalUserProperties()), UnorderedElementsAre("soon"));
    EXPECT_THAT(names(db().triggeredConditionalUserPropertiesWithEventName("buy")), UnorderedElementsAre("later"));
    EXPECT_TRUE(names(db().expiredConditionalUserProperties()).empty());

    clock_.advance(40);
    EXPECT_THAT(names(db().expiredConditionalUserProperties()), UnorderedElementsAre("active"));
    EXPECT_TRUE(names(db().triggeredConditionalUserPropertiesWithEventName("other")).empty());

    APMError error;
    EXPECT_TRUE(db().triggeredConditionalUserPropertiesWithEventName("").failed());
}

TEST_F(ConditionalProperties, TableHoldsAtMostAThousandRows) {
    ASSERT_TRUE(db().performTransaction([&] {
        for (int i = 0; i < 1000; ++i) store(waiting("p" + std::to_string(i), "t", 60));
        return true;
    }));
    APMError error;
    EXPECT_FALSE(db().updateConditionalUserProperty(waiting("new", "t", 60), &error));
    EXPECT_EQ(error.description, "Failed to insert data type. Table is full");
    auto existing = waiting("p5", "other", 60);
    EXPECT_TRUE(db().updateConditionalUserProperty(existing, nullptr));
    EXPECT_EQ(db().conditionalUserPropertyWithName("p5").value->triggerEventName, "other");
    ASSERT_TRUE(db().deleteConditionalUserPropertyWithName("p5", nullptr));
    EXPECT_TRUE(db().updateConditionalUserProperty(waiting("new", "t", 60), nullptr));
}

TEST_F(ConditionalProperties, PrefixAndOriginMatchLiterally) {
    store(waiting("_abc", "t", 60));
    store(waiting("xabc", "t", 60));
    store(waiting("Abc", "t", 60));
    auto other = waiting("abd", "t", 60);
    other.origin = "auto";
    store(other);
    EXPECT_THAT(names(db().conditionalUserPropertiesWithPrefix("_a", "")), UnorderedElementsAre("_abc"));
    EXPECT_THAT(names(db().conditionalUserPropertiesWithPrefix("ab", "")), UnorderedElementsAre("Abc", "abd"));
    EXPECT_THAT(names(db().conditionalUserPropertiesWithPrefix("", "auto")), UnorderedElementsAre("abd"));
    EXPECT_THAT(names(db().conditionalUserPropertiesWithPrefix("ab", "app")), UnorderedElementsAre("Abc"));
    EXPECT_TRUE(names(db().conditionalUserPropertiesWithPrefix("%", "")).empty());
    EXPECT_EQ(names(db().conditionalUserPropertiesWithPrefix("", "")).size(), 4u);
    EXPECT_TRUE(db().conditionalUserPropertiesWithCondition("", {}).failed());
}

TEST_F(ConditionalProperties, OneDamagedRowFailsTheWholeQuery) {
    store(waiting("a", "t", 60));
    store(waiting("b", "t", 60));
    {
        APMError error;
        auto sqlite = APMSqliteStore::open(path(), &error);
        ASSERT_TRUE(sqlite->execute("UPDATE conditional_properties SET triggered_event = 'text' WHERE name = 'b'", {})
                        .value);
    }
    EXPECT_TRUE(db().conditionalUserPropertiesWithPrefix("", "").failed());
    EXPECT_TRUE(db().conditionalUserPropertyWithName("a").value) << "other rows stay readable";
}

}  // namespace
