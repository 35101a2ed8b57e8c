#include "measurement/storage/APMUserDefaults.h"

#include <cstdlib>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "platform/core/UserDefaults.h"

using storage_test::MonitorCapture;
using storage_test::TemporaryFolder;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

struct UserDefaultsTest : testing::Test {
    MonitorCapture capture;
    TemporaryFolder folder;
    std::shared_ptr<platform::UserDefaults> store = std::make_shared<platform::UserDefaults>("suite", folder.path());
    APMUserDefaults defaults{store};
};

}  // namespace

TEST_F(UserDefaultsTest, StoresEveryPropertyListKindAndReadsItBack) {
    platform::PropertyDictionary consent{{"ad_storage", platform::PropertyValue(1)}};
    EXPECT_TRUE(defaults.setObject(platform::PropertyValue("text"), "string"));
    EXPECT_TRUE(defaults.setObject(platform::PropertyValue(2.5), "real"));
    EXPECT_TRUE(defaults.setObject(platform::PropertyValue(platform::PropertyArray{platform::PropertyValue(1)}), "array"));
    EXPECT_TRUE(defaults.setObject(platform::PropertyValue(consent), "dictionary"));
    EXPECT_TRUE(defaults.setObject(platform::PropertyValue(platform::PropertyDate{12.0}), "date"));
    EXPECT_TRUE(defaults.setObject(platform::PropertyValue(platform::PropertyData{1, 2}), "data"));
    EXPECT_EQ(defaults.stringForKey("string"), "text");
    EXPECT_EQ(defaults.doubleForKey("real"), 2.5);
    EXPECT_EQ(*defaults.objectForKey("dictionary"), platform::PropertyValue(consent));
    EXPECT_EQ(defaults.objectForKey("data")->asData()->size(), 2u);
    EXPECT_THAT(capture.lines(), IsEmpty());

    // Written to the suite's file at once: a second reader sees the values.
    platform::UserDefaults reread("suite", folder.path());
    EXPECT_EQ(reread.string("string"), "text");
}

TEST_F(UserDefaultsTest, TypedReadsAnswerNothingOrZeroForAnotherKind) {
    defaults.setObject(platform::PropertyValue("12"), "text");
    defaults.setInteger(7, "count");
    defaults.setBool(true, "flag");
    EXPECT_EQ(defaults.numberForKey("text"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("text"), 0);
    EXPECT_FALSE(defaults.boolForKey("text"));
    EXPECT_EQ(defaults.stringForKey("count"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("count"), 7);
    EXPECT_EQ(defaults.doubleForKey("count"), 7.0);
    EXPECT_TRUE(defaults.boolForKey("count"));
    EXPECT_EQ(defaults.integerForKey("flag"), 1);
    EXPECT_FALSE(defaults.boolForKey("absent"));
    EXPECT_EQ(defaults.doubleForKey("absent"), 0.0);
}

TEST_F(UserDefaultsTest, EmptyKeysAreRefusedWithTheirCodes) {
    EXPECT_FALSE(defaults.setObject(platform::PropertyValue("x"), ""));
    EXPECT_EQ(defaults.objectForKey(""), std::nullopt);
    EXPECT_THAT(capture.linesWithCode(41002), ElementsAre(HasSubstr("Cannot set object for invalid user default key.")));
    EXPECT_THAT(capture.linesWithCode(41001), ElementsAre(HasSubstr("Cannot get object for invalid user default key.")));
    EXPECT_THAT(store->dictionaryRepresentation(), IsEmpty());
}

TEST_F(UserDefaultsTest, AnObjectThatIsNoPropertyListValueIsRefusedAndTheOldValueStays) {
    defaults.setObject(platform::PropertyValue("old"), "key");
    APMObject value = APMValue(std::int64_t{5});
    EXPECT_FALSE(defaults.setObject(&value, "key"));
    EXPECT_EQ(defaults.stringForKey("key"), "old");
    EXPECT_THAT(capture.linesWithCode(41003),
                ElementsAre(HasSubstr("Cannot set invalid object to user defaults. Must be a string or number or an "
                                      "array. Value 5")));
}

TEST_F(UserDefaultsTest, AMissingValueRemovesTheKey) {
    defaults.setObject(platform::PropertyValue("x"), "a");
    defaults.setObject(platform::PropertyValue("y"), "b");
    EXPECT_TRUE(defaults.setObject(nullptr, "a"));
    EXPECT_TRUE(defaults.removeObjectForKey("b"));
    EXPECT_EQ(defaults.objectForKey("a"), std::nullopt);
    EXPECT_EQ(defaults.objectForKey("b"), std::nullopt);
}

TEST_F(UserDefaultsTest, ClearAllDataEmptiesOnlyItsSuite) {
    APMUserDefaults other(std::make_shared<platform::UserDefaults>("other", folder.path()));
    defaults.setObject(platform::PropertyValue("x"), "a");
    other.setObject(platform::PropertyValue("y"), "a");
    defaults.clearAllData();
    EXPECT_EQ(defaults.objectForKey("a"), std::nullopt);
    EXPECT_EQ(other.stringForKey("a"), "y");
}

// Points the platform's shared domains at a private folder for one test.
class PrivateConfigFolder {
public:
    PrivateConfigFolder() {
        const char* previous = std::getenv("XDG_CONFIG_HOME");
        if (previous) previous_ = previous;
        setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);
        platform::UserDefaults::resetSharedInstancesForTesting();
        APMUserDefaults::resetSharedForTesting();
    }
    ~PrivateConfigFolder() {
        if (previous_) setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        platform::UserDefaults::resetSharedInstancesForTesting();
        APMUserDefaults::resetSharedForTesting();
    }

private:
    TemporaryFolder folder_;
    std::optional<std::string> previous_;
};

TEST(UserDefaultsSuites, NamedSuitesAreSeparateFromTheApplicationDomain) {
    MonitorCapture capture;
    PrivateConfigFolder config;
    APMUserDefaults::resetSharedForTesting();
    APMUserDefaults suite("APMAnalyticsSuiteName");
    suite.setObject(platform::PropertyValue("suite"), "/vadova/test/key");
    auto shared = APMUserDefaults::sharedUserDefaults();
    EXPECT_EQ(shared, APMUserDefaults::sharedUserDefaults());
    EXPECT_EQ(shared->objectForKey("/vadova/test/key"), std::nullopt);
    shared->setObject(platform::PropertyValue("app"), "/vadova/test/key");
    EXPECT_EQ(APMUserDefaults("").stringForKey("/vadova/test/key"), "app");
    EXPECT_EQ(suite.stringForKey("/vadova/test/key"), "suite");
}
