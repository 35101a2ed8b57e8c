// The public interface: the guarded calls and their not-configured
// messages, the user data it hands on, and the installation-ID observer.

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

using PublicInterfaceTest = AnalyticsFixture;

TEST_F(PublicInterfaceTest, GuardedCallsBeforeConfigurationAreDroppedWithTheirMessage) {
    struct Case {
        std::function<void()> call;
        long code;
        std::string message;
    } cases[] = {
        {[] { RADOdodavazi::logEventWithName("app_start", std::nullopt); }, 25018,
         "Event not logged. VeredodaApp not configured."},
        {[] { RADOdodavazi::setUserPropertyString(std::string("v"), "tier"); }, 25019,
         "User property not set. VeredodaApp not configured."},
        {[] { RADOdodavazi::initiateOnDeviceConversionMeasurementWithEmailAddress("a@b.c"); }, 25051,
         "Email address not set. VeredodaApp not configured."},
        {[] { RADOdodavazi::initiateOnDeviceConversionMeasurementWithPhoneNumber("+1"); }, 25052,
         "Phone number not set. VeredodaApp not configured."},
        {[] { RADOdodavazi::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(std::nullopt); }, 25053,
         "Hashed email address not set. VeredodaApp not configured."},
        {[] { RADOdodavazi::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(std::nullopt); }, 25054,
         "Hashed phone number not set. VeredodaApp not configured."},
    };
    for (const auto& c : cases) {
        c.call();
        const auto lines = monitor.linesWithCode(c.code);
        ASSERT_EQ(lines.size(), 1u) << c.code;
        EXPECT_NE(lines[0].find(c.message), std::string::npos) << lines[0];
    }
    startFacade();
    EXPECT_TRUE(heard.empty());
}

TEST_F(PublicInterfaceTest, UserDataIsHandedOnInItsOneEntry) {
    configureDefaultApp();
    std::vector<platform::PropertyDictionary> given;
    APMAnalyticsEngineBridge::engineSeams().setUserData = [&](const platform::PropertyDictionary& data) {
        given.push_back(data);
    };
    const platform::PropertyData digest(32, 0xab);
    const std::string hex(64, 'a');
    const platform::PropertyData hexDigest(hex.begin(), hex.end());
    RADOdodavazi::initiateOnDeviceConversionMeasurementWithEmailAddress(std::nullopt);
    RADOdodavazi::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(digest);
    RADOdodavazi::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(hexDigest);
    RADOdodavazi::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(platform::PropertyData(10, 1));
    dispatcher.drain();
    dispatcher.advance(2);
    ASSERT_EQ(given.size(), 4u);
    EXPECT_EQ(given[0], (platform::PropertyDictionary{{"email_address", ""}}));
    EXPECT_EQ(given[1], (platform::PropertyDictionary{{"hashed_email_address", digest}}));
    EXPECT_EQ(given[2], (platform::PropertyDictionary{{"hashed_email_address", platform::PropertyData(32, 0xaa)}}));
    EXPECT_EQ(given[3], (platform::PropertyDictionary{{"hashed_phone_number", platform::PropertyData(10, 1)}}));
    EXPECT_EQ(monitor.linesWithCode(25056).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(25057).size(), 1u);
}

TEST_F(PublicInterfaceTest, RepeatedStartsKeepOneInstallationIDObserver) {
    auto& defaultCenter = platform::NotificationCenter::defaultCenter();
    const auto before = defaultCenter.observerCount();
    RADOdodavazi::observeVeredodaInstallationIDChanges();
    RADOdodavazi::observeVeredodaInstallationIDChanges();
    EXPECT_EQ(defaultCenter.observerCount(), before + 1);
}

}  // namespace
}  // namespace analytics_test
