// User properties: the limits per origin and for public names, the user-ID
// side effects, "_npa", and the queries answered off the worker queue.

#include "measurement/interface/APMConsentSettingsUtil.h"
#include "EngineTestSupport.h"

namespace engine_test {
namespace {

class UserProperties : public EngineFixture {
protected:
    void SetUp() override { startWithoutStartRecords(); }
    bool set(const std::string& origin, const std::string& name, APMValue value) {
        return engine->setUserPropertyInDatabaseOnWorkerQueue(APMUserAttribute(origin, name, std::move(value), now()));
    }
    bool has(const std::string& name) { return engine->database()->containsUserAttributeWithName(name).value.value_or(false); }
};

TEST_F(UserProperties, InternalNamesAreLimitedPerOrigin) {
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(set("auto", "_p" + std::to_string(i), APMValue(std::int64_t{i})));
    EXPECT_FALSE(set("auto", "_x", APMValue(std::int64_t{1})));
    EXPECT_EQ(monitor.linesWithCode(23084).size(), 1u);
    EXPECT_EQ(errorCodes(), std::vector<std::int64_t>{9});
    EXPECT_TRUE(set("auto", "_p3", APMValue(std::int64_t{99})));
    EXPECT_TRUE(set("app", "_y", APMValue(std::int64_t{1})));
    EXPECT_FALSE(has("_x"));
}

TEST_F(UserProperties, PublicNamesAreLimitedOverAllOrigins) {
    applySettings({{"measurement.upload.max_public_user_properties", "25"}});
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(set(i % 2 ? "app" : "other", "p" + std::to_string(i), APMValue("v")));
    EXPECT_FALSE(set("app", "fresh", APMValue("v")));
    EXPECT_TRUE(set("app", "p0", APMValue("w")));
    EXPECT_EQ(*engine->database()->userAttributeWithName("p0").value->value().stringValue(), "w");
}

TEST_F(UserProperties, ChangingTheUserIDDropsTheResetMarkerButTheSameValueKeepsIt) {
    ASSERT_TRUE(set("app", "_id", APMValue("ann")));
    ASSERT_TRUE(set("auto", "_lair", APMValue(std::int64_t{1})));
    ASSERT_TRUE(set("app", "_id", APMValue("ann")));
    EXPECT_TRUE(has("_lair"));
    ASSERT_TRUE(set("app", "_id", APMValue("bob")));
    EXPECT_FALSE(has("_lair"));
}

TEST_F(UserProperties, NpaReachesConsentEvenWhenTheStoreRefusesIt) {
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(set("auto", "_p" + std::to_string(i), APMValue(std::int64_t{i})));
    EXPECT_FALSE(set("auto", "_npa", APMValue(std::int64_t{1})));
    EXPECT_EQ(APMConsentSettingsUtil::adPersonalization(), 0);  // denied
}

TEST_F(UserProperties, QueriesAnswerOffTheWorkerQueue) {
    ASSERT_TRUE(set("app", "tier", APMValue("gold")));
    ASSERT_TRUE(set("auto", "_fot", APMValue(std::int64_t{5})));
    std::optional<APMUserAttribute> one;
    std::vector<std::pair<std::string, APMValue>> publicOnly;
    std::int64_t maximum = 0;
    engine->userAttributeWithName("tier", [&](std::optional<APMUserAttribute> answer) { one = std::move(answer); });
    engine->userPropertiesIncludingInternal(false, [&](auto answer) { publicOnly = std::move(answer); });
    engine->maxUserPropertiesForOrigin("app", [&](std::int64_t answer) { maximum = answer; });
    dispatcher.drain();
    ASSERT_TRUE(one);
    EXPECT_EQ(*one->value().stringValue(), "gold");
    ASSERT_EQ(publicOnly.size(), 1u);
    EXPECT_EQ(publicOnly[0].first, "tier");
    EXPECT_EQ(maximum, 25);
}

TEST_F(UserProperties, ADisabledEngineNeitherSetsNorRemoves) {
    engine->setEnabled(false);
    dispatcher.drain();
    engine->setUserAttribute(APMUserAttribute("app", "tier", APMValue("gold"), now()));
    dispatcher.drain();
    EXPECT_FALSE(has("tier"));
}

}  // namespace
}  // namespace engine_test
