#include "VeredodaCore/RADOdodavaziConfiguration.h"

#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "VeredodaCore/VRDConfiguration.h"

namespace {

class AnalyticsConfiguration : public CoreTest {};

TEST_F(AnalyticsConfiguration, TheSharedConfigurationIsOneObject) {
    EXPECT_NE(VRDConfiguration::sharedInstance().analyticsConfiguration(), nullptr);
    EXPECT_EQ(VRDConfiguration::sharedInstance().analyticsConfiguration(),
              VRDConfiguration::sharedInstance().analyticsConfiguration());
}

TEST_F(AnalyticsConfiguration, SettingCollectionPostsTheValueWithTheConfigurationAsSender) {
    const auto configuration = VRDConfiguration::sharedInstance().analyticsConfiguration();
    std::vector<platform::Notification> received;
    platform::NotificationCenter::defaultCenter().addObserver(
        "RADOdodavaziConfigurationSetEnabledNotification", configuration.get(), nullptr,
        [&](const platform::Notification& notification) { received.push_back(notification); });

    configuration->setAnalyticsCollectionEnabled(false);
    configuration->setAnalyticsCollectionEnabled(true);
    RADOdodavaziConfiguration().setAnalyticsCollectionEnabled(true);  // another sender: filtered out

    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].object, configuration.get());
    EXPECT_EQ(received[0].userInfo->at("RADOdodavaziConfigurationSetEnabledNotification").asBoolean(), false);
    EXPECT_EQ(received[1].userInfo->at("RADOdodavaziConfigurationSetEnabledNotification").asBoolean(), true);
}

}  // namespace
