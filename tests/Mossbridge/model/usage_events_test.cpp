// The usage-event helpers: the four assignment parameters in order, extras
// set over them, and exactly one call of the analytics interface each.

#include "Mossbridge/model/UsageEvents.h"

#include <gtest/gtest.h>

#include "UsageEventRecorder.h"

namespace Mossbridge {
namespace {

using Entries = std::vector<std::string>;

AppAssignment assignment() {
    AppAssignment a;
    a.bundleIdentifier = "com.example.chat";
    a.appName = "";
    a.petKind = PetKind::tunebugV1;
    a.category = AppCategory::chat;
    return a;
}

TEST(UsageEventsTest, AssignmentParametersComeFirstAndExtrasReplaceInPlace) {
    EXPECT_EQ(UsageEventRecorder::entries(analyticsParameters(assignment(), {})),
              (Entries{"bundle_identifier=com.example.chat", "app_name=", "pet_kind=Tunebug V1", "category=Chat"}));
    EXPECT_EQ(UsageEventRecorder::entries(
                  analyticsParameters(assignment(), {{"category", APMValue("Other")}, {"extra", APMValue(3)}})),
              (Entries{"bundle_identifier=com.example.chat", "app_name=", "pet_kind=Tunebug V1", "category=Other",
                       "extra=3"}));
}

TEST(UsageEventsTest, PetEventsCarryTheirSourceAndPreviewClicksAnIntegerIndex) {
    UsageEventRecorder recorder;
    logPetAdded(assignment(), "manual");
    logPetRemoved(assignment(), "pet_menu");
    logWindowPreviewClick(assignment(), 4);
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events[0].name, "pet_added");
    EXPECT_EQ(UsageEventRecorder::entries(*recorder.events[0].parameters).back(), "source=manual");
    EXPECT_EQ(recorder.events[1].name, "pet_removed");
    EXPECT_EQ(UsageEventRecorder::entries(*recorder.events[1].parameters).back(), "source=pet_menu");
    EXPECT_EQ(recorder.events[2].name, "window_preview_click");
    const APMValue* index = recorder.events[2].parameters->find("window_index");
    ASSERT_NE(index, nullptr);
    EXPECT_TRUE(index->isInt64());
    EXPECT_EQ(index->int64Value(), 4);
}

TEST(UsageEventsTest, NoneAndEmptyParametersReachTheInterfaceAsTheyAre) {
    UsageEventRecorder recorder;
    logUsageEvent("app_start", std::nullopt);
    logUsageEvent("pet_click", APMParameters{});
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_FALSE(recorder.events[0].parameters.has_value());
    ASSERT_TRUE(recorder.events[1].parameters.has_value());
    EXPECT_TRUE(recorder.events[1].parameters->empty());
}

TEST(UsageEventsTest, ClearingTheLoggerDropsLaterEvents) {
    UsageEventRecorder recorder;
    logUsageEvent("app_start", std::nullopt);
    setUsageEventLogger(nullptr);
    logPetAdded(assignment(), "manual");
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].name, "app_start");
}

}  // namespace
}  // namespace Mossbridge
