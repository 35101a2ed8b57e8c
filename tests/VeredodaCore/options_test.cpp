#include "VeredodaCore/VRDOptions.h"

#include <gtest/gtest.h>

#include "CoreTestSupport.h"

namespace {

using platform::PropertyValue;

TEST(Options, MissingKeysTakeTheirDefaults) {
    const VRDOptions options = VRDOptions::optionsWithDictionary({});
    EXPECT_EQ(options.vadovaAppID, "");
    EXPECT_TRUE(options.isAnalyticsCollectionEnabled);
    EXPECT_FALSE(options.isAnalyticsCollectionDeactivated);
}

TEST(Options, BooleansAcceptNumbersAndIgnoreOtherKinds) {
    VRDOptions options = VRDOptions::optionsWithDictionary({{"VEREDODA_ANALYTICS_COLLECTION_ENABLED", PropertyValue(0)},
                                                            {"VEREDODA_ANALYTICS_COLLECTION_DEACTIVATED", PropertyValue(1)}});
    EXPECT_FALSE(options.isAnalyticsCollectionEnabled);
    EXPECT_TRUE(options.isAnalyticsCollectionDeactivated);

    options = VRDOptions::optionsWithDictionary({{"VEREDODA_ANALYTICS_COLLECTION_ENABLED", PropertyValue("NO")},
                                                 {"VEREDODA_ANALYTICS_COLLECTION_DEACTIVATED", PropertyValue("YES")},
                                                 {"VADOVA_APP_ID", PropertyValue(12)}});
    EXPECT_TRUE(options.isAnalyticsCollectionEnabled);
    EXPECT_FALSE(options.isAnalyticsCollectionDeactivated);
    EXPECT_EQ(options.vadovaAppID, "");
}

class OptionsFile : public CoreTest {};

TEST_F(OptionsFile, DefaultOptionsReadTheServiceInfoFileOfTheResources) {
    EXPECT_EQ(VRDOptions::defaultOptions(), std::nullopt);
    writeServiceInfo({{"VADOVA_APP_ID", PropertyValue("1:7:macos:7")},
                      {"VEREDODA_ANALYTICS_COLLECTION_DEACTIVATED", PropertyValue(true)}});
    const auto options = VRDOptions::defaultOptions();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->vadovaAppID, "1:7:macos:7");
    EXPECT_TRUE(options->isAnalyticsCollectionDeactivated);
    EXPECT_EQ(VRDOptions::optionsWithContentsOfFile(resources / "absent.plist"), std::nullopt);
}

}  // namespace
