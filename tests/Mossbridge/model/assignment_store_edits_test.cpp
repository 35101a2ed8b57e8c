// Automatic attaching, removing and changing single assignments, and the
// usage events they raise.

#include "Mossbridge/model/AssignmentStore.h"

#include <gtest/gtest.h>

#include <limits>

#include "StoreFixture.h"

namespace Mossbridge {
namespace {

using AssignmentStoreEditsTest = StoreFixture;
using Entries = std::vector<std::string>;

RunningApp runningApp(std::string bundleIdentifier, std::string name) {
    return RunningApp{std::move(bundleIdentifier), std::move(name), 42, nullptr};
}

TEST_F(AssignmentStoreEditsTest, AutoAttachingTwoAppsLinesThemUpWritesEachAndLogsEach) {
    const auto store = makeStore();
    std::vector<std::optional<std::string>> storedAtEvent;
    setUsageEventLogger([&](const std::string& name, const std::optional<APMParameters>& parameters) {
        recorder.events.push_back({name, parameters});
        storedAtEvent.push_back(storedText(AssignmentStore::defaultsKey));
    });
    store->autoAttachRunningApps({runningApp("com.spotify.client", "Spotify"), runningApp("org.example.editor", "Editor")});

    ASSERT_EQ(store->assignments.size(), 2u);
    EXPECT_EQ(store->assignments[0].frame, CodableRect(160, 180, 92, 104));
    EXPECT_EQ(store->assignments[1].frame, CodableRect(252, 180, 92, 104));
    EXPECT_EQ(store->assignments[0].petKind, PetKind::robotV1);
    EXPECT_EQ(store->assignments[1].petKind, PetKind::calendarV1);
    EXPECT_EQ(store->assignments[0].category, AppCategory::music);
    EXPECT_NE(store->assignments[0].id, store->assignments[1].id);
    EXPECT_EQ(store->assignments[1].launchCount, 0);
    EXPECT_FALSE(store->assignments[1].lastSeenRunning);

    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].name, "pet_added");
    ASSERT_TRUE(recorder.events[0].parameters);
    EXPECT_EQ(UsageEventRecorder::entries(*recorder.events[0].parameters),
              (Entries{"bundle_identifier=com.spotify.client", "app_name=Spotify", "pet_kind=Robot V1",
                       "category=Music", "source=auto_attach"}));
    EXPECT_EQ(UsageEventRecorder::entries(*recorder.events[1].parameters)[0], "bundle_identifier=org.example.editor");
    // Each assignment was written before its event was logged.
    ASSERT_TRUE(storedAtEvent[0]);
    EXPECT_NE(storedAtEvent[0]->find("com.spotify.client"), std::string::npos);
    EXPECT_EQ(storedAtEvent[0]->find("org.example.editor"), std::string::npos);
    EXPECT_NE(storedAtEvent[1]->find("org.example.editor"), std::string::npos);
}

TEST_F(AssignmentStoreEditsTest, AutoAttachingAtHalfScaleCountsExistingAssignments) {
    const auto store = makeStore();
    store->preferences.petSizeScale = 0.5;
    store->autoAttachRunningApps({runningApp("a.one", "One"), runningApp("a.two", "Two")});
    EXPECT_EQ(store->assignments[0].frame, CodableRect(160, 180, 46, 52));
    EXPECT_EQ(store->assignments[1].frame, CodableRect(206, 180, 46, 52));
}

TEST_F(AssignmentStoreEditsTest, AlreadyAssignedAppsAndEmptyListsChangeNothing) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("com.example.one"));
    store->autoAttachRunningApps({runningApp("com.example.one", "One")});
    store->autoAttachRunningApps({});
    EXPECT_EQ(store->assignments.size(), 1u);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_FALSE(defaults->object(AssignmentStore::defaultsKey));
}

TEST_F(AssignmentStoreEditsTest, TheKindFollowsTheAssignmentCountAndWrapsAroundTheOfferedKinds) {
    const auto store = makeStore();
    const auto kinds = allPetKinds();
    ASSERT_EQ(kinds.size(), 19u);
    for (std::size_t i = 0; i < kinds.size(); ++i) store->assignments.push_back(makeAssignment("x" + std::to_string(i)));
    EXPECT_EQ(store->nextAutoAttachPetKind(), PetKind::robotV1);
    store->assignments.pop_back();
    EXPECT_EQ(store->nextAutoAttachPetKind(), PetKind::tunebug);
    store->assignments.push_back(makeAssignment("last"));
    store->assignments.push_back(makeAssignment("wrapped"));
    EXPECT_EQ(store->nextAutoAttachPetKind(), PetKind::calendarV1);
}

TEST_F(AssignmentStoreEditsTest, RemovingKeepsTheOrderWritesAndLogsOnceWithTheSource) {
    const auto store = makeStore();
    for (const char* id : {"a", "b", "c"}) store->assignments.push_back(makeAssignment(id));
    const AppAssignment removed = store->assignments[1];
    store->removeAssignment(removed.id, "pet_menu");
    ASSERT_EQ(store->assignments.size(), 2u);
    EXPECT_EQ(store->assignments[0].bundleIdentifier, "a");
    EXPECT_EQ(store->assignments[1].bundleIdentifier, "c");
    EXPECT_EQ(makeStore()->assignments, store->assignments);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].name, "pet_removed");
    EXPECT_EQ(UsageEventRecorder::entries(*recorder.events[0].parameters).back(), "source=pet_menu");

    store->removeAssignment(removed.id, "manual");
    EXPECT_EQ(recorder.events.size(), 1u);
}

TEST_F(AssignmentStoreEditsTest, SingleFieldChangesAreWrittenAtOnceAndUnknownIdsDoNothing) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("a"));
    const auto id = store->assignments[0].id;
    store->updateFrame(id, {30, 40, -92, 104});
    EXPECT_EQ(store->assignments[0].frame, CodableRect(30, 40, 92, 104));
    store->updatePetKind(id, PetKind::ghost);
    store->updateCategory(id, AppCategory::notes);
    store->recordFocusClick(id);
    EXPECT_EQ(makeStore()->assignments, store->assignments);
    EXPECT_EQ(store->assignments[0].focusClicks, 1);

    storeText(AssignmentStore::defaultsKey, "sentinel");
    const auto unknown = platform::Uuid::random();
    store->updateFrame(unknown, {1, 1, 1, 1});
    store->updatePetKind(unknown, PetKind::cat);
    store->updateCategory(unknown, AppCategory::chat);
    store->recordFocusClick(unknown);
    store->removeAssignment(unknown, "manual");
    store->updateRunningState("nobody", true);
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), "sentinel");
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(AssignmentStoreEditsTest, RunningStateCountsLaunchesAndWritesOnlyOnChange) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("a"));
    store->updateRunningState("a", true);
    EXPECT_EQ(store->assignments[0].launchCount, 1);
    EXPECT_TRUE(store->assignments[0].lastSeenRunning);

    storeText(AssignmentStore::defaultsKey, "sentinel");
    store->updateRunningState("a", true);
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), "sentinel");
    EXPECT_EQ(store->assignments[0].launchCount, 1);

    store->updateRunningState("a", false);
    EXPECT_NE(storedText(AssignmentStore::defaultsKey), "sentinel");
    EXPECT_EQ(store->assignments[0].launchCount, 1);
    EXPECT_FALSE(store->assignments[0].lastSeenRunning);
}

TEST_F(AssignmentStoreEditsTest, CountersAtTheirLimitStayThere) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("a"));
    store->assignments[0].launchCount = std::numeric_limits<std::int64_t>::max();
    store->assignments[0].focusClicks = std::numeric_limits<std::int64_t>::max();
    store->updateRunningState("a", true);
    store->recordFocusClick(store->assignments[0].id);
    EXPECT_EQ(store->assignments[0].launchCount, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(store->assignments[0].focusClicks, std::numeric_limits<std::int64_t>::max());
}

}  // namespace
}  // namespace Mossbridge
