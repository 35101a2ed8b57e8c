#include "measurement/storage/APMNameMaps.h"

#include <gtest/gtest.h>

#include "StorageTestSupport.h"

using storage_test::MonitorCapture;

TEST(NameMaps, EventMapAndItsReverse) {
    EXPECT_EQ(APMPublicToInternalEventNameMap().size(), 32u);
    EXPECT_EQ(APMPublicToInternalEventNameMap().at("screen_view"), "_vs");
    EXPECT_EQ(APMInternalToPublicEventNameMap().at("_f"), "first_open");
    EXPECT_EQ(APMInternalToPublicEventNameMap().size(), 31u);  // "_cmp" has two public names
}

TEST(NameMaps, UserPropertyMapHoldsTheReservedNames) {
    const auto& map = APMUserPropertyInternalNames();
    EXPECT_EQ(map.size(), 10u);
    EXPECT_EQ(map.at("first_open_time"), "_fot");
    EXPECT_EQ(map.at("user_id"), "_id");
    EXPECT_EQ(APMParameterInternalNames().at("screen_name"), "_sn");
}

TEST(DisplayNames, ShowThePublicTwinOnlyInDebugMode) {
    {
        MonitorCapture quiet;
        EXPECT_EQ(APMEventDisplayName("_vs"), "_vs");
        EXPECT_EQ(APMUserPropertyDisplayName("_fot"), "_fot");
    }
    MonitorCapture debug({"-RADOdodavaziDebugEnabled"});
    EXPECT_EQ(APMEventDisplayName("_vs"), "screen_view (_vs)");
    EXPECT_EQ(APMEventDisplayName("my_event"), "my_event");
    EXPECT_EQ(APMUserPropertyDisplayName("_fot"), "first_open_time (_fot)");
    EXPECT_EQ(APMParameterDisplayName("_sn"), "screen_name (_sn)");
}
