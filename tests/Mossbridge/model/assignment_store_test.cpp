// Loading and writing the store: formats under the two keys, the debounce,
// keeping unreadable data aside and never writing non-finite numbers.

#include "Mossbridge/model/AssignmentStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "StoreFixture.h"

namespace Mossbridge {
namespace {

using AssignmentStoreTest = StoreFixture;

// The stored list of one assignment of app "b" with the given pet kind and
// frame (its JSON members).
std::string storedAssignment(const std::string& petKind, const std::string& frame) {
    return R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","bundleIdentifier":"b","appName":"A","petKind":")" +
           petKind + R"(","frame":{)" + frame + "}}]";
}

std::string captured(const std::function<void()>& body) {
    ::testing::internal::CaptureStderr();
    body();
    std::fflush(stderr);
    return ::testing::internal::GetCapturedStderr();
}

TEST_F(AssignmentStoreTest, EmptyDefaultsLoadEmptyWithDefaultPreferencesAndWriteNothing) {
    const auto store = makeStore();
    EXPECT_TRUE(store->assignments.empty());
    EXPECT_EQ(store->preferences, MossbridgePreferences{});
    dispatcher.advance(5);
    EXPECT_FALSE(defaults->object(AssignmentStore::defaultsKey));
    EXPECT_FALSE(defaults->object(AssignmentStore::preferencesKey));
}

TEST_F(AssignmentStoreTest, SavedAssignmentsAndPreferencesLoadBackIntoANewStore) {
    auto store = makeStore();
    store->assignments.push_back(makeAssignment("com.example.one", {10, 20, 92, 104}));
    store->saveAssignments();
    store->preferences.displayBadges = false;
    store->savePreferences();

    const auto reloaded = makeStore();
    EXPECT_EQ(reloaded->assignments, store->assignments);
    EXPECT_FALSE(reloaded->preferences.displayBadges);
}

TEST_F(AssignmentStoreTest, AnElementWithAnUnknownPetKindLoadsAsAnEmptyListAndIsKeptAside) {
    const std::string stored = storedAssignment("Robot V9", R"("x":0,"y":0,"width":92,"height":104)");
    storeText(AssignmentStore::defaultsKey, stored);
    const auto store = makeStore();
    EXPECT_TRUE(store->assignments.empty());
    // Loading alone neither prints nor writes anything.
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), stored);
    EXPECT_FALSE(defaults->object("Mossbridge.assignments.v1.unreadable"));

    store->assignments.push_back(makeAssignment("com.example.new"));
    const std::string output = captured([&] { store->saveAssignments(); });
    EXPECT_EQ(output,
              "Mossbridge: stored Mossbridge.assignments.v1 could not be read; kept a copy under "
              "Mossbridge.assignments.v1.unreadable\n");
    EXPECT_EQ(storedText("Mossbridge.assignments.v1.unreadable"), stored);
    ASSERT_TRUE(storedText(AssignmentStore::defaultsKey));
    EXPECT_NE(storedText(AssignmentStore::defaultsKey)->find("com.example.new"), std::string::npos);

    // Only the first write over the unreadable data copies it.
    EXPECT_EQ(captured([&] { store->saveAssignments(); }), "");
}

TEST_F(AssignmentStoreTest, AHandEditedFrameBeyondDoubleRangeNeverBlocksLaterSaves) {
    const std::string stored = storedAssignment("Robot V1", R"("x":1e400,"y":0,"width":92,"height":104)");
    storeText(AssignmentStore::defaultsKey, stored);
    const auto store = makeStore();
    EXPECT_TRUE(store->assignments.empty());

    store->assignments.push_back(makeAssignment("com.example.new"));
    const std::string output = captured([&] { store->saveAssignments(); });
    EXPECT_NE(output.find("kept a copy under Mossbridge.assignments.v1.unreadable"), std::string::npos) << output;
    EXPECT_EQ(storedText("Mossbridge.assignments.v1.unreadable"), stored);
    EXPECT_EQ(makeStore()->assignments, store->assignments);
}

TEST_F(AssignmentStoreTest, AStoredFrameNoScreenCanShowIsKeptAsideAndThePetStartsAtItsDefaultPlace) {
    const std::string stored = storedAssignment("Robot V1", R"("x":80,"y":200,"width":1e300,"height":104)");
    storeText(AssignmentStore::defaultsKey, stored);
    const auto store = makeStore();
    EXPECT_TRUE(store->assignments.empty());

    const std::string output = captured([&] { store->autoAttachRunningApps({RunningApp{"b", "A", 42, nullptr}}); });
    EXPECT_NE(output.find("kept a copy under Mossbridge.assignments.v1.unreadable"), std::string::npos) << output;
    EXPECT_EQ(storedText("Mossbridge.assignments.v1.unreadable"), stored);
    ASSERT_EQ(store->assignments.size(), 1u);
    EXPECT_EQ(store->assignments[0].frame, CodableRect(160, 180, 92, 104));
    EXPECT_EQ(makeStore()->assignments, store->assignments);

    // Nor does a move or resize to such a size reach the store.
    store->updateFrame(store->assignments[0].id, {0, 0, 92, 1e300});
    store->updateFrame(store->assignments[0].id, {0, 0, 0.5, 104});
    EXPECT_EQ(store->assignments[0].frame, CodableRect(160, 180, 92, 104));
}

TEST_F(AssignmentStoreTest, UnreadablePreferencesAndValuesOfTheWrongKindAreKeptAsideToo) {
    ASSERT_TRUE(defaults->set(AssignmentStore::preferencesKey, platform::PropertyValue("not data")));
    storeText(AssignmentStore::defaultsKey, "{not json");
    const auto store = makeStore();
    EXPECT_EQ(store->preferences, MossbridgePreferences{});
    const std::string output = captured([&] {
        store->savePreferences();
        store->saveAssignments();
    });
    EXPECT_NE(output.find("kept a copy under Mossbridge.preferences.v1.unreadable"), std::string::npos);
    EXPECT_EQ(defaults->object("Mossbridge.preferences.v1.unreadable"), platform::PropertyValue("not data"));
    EXPECT_EQ(storedText("Mossbridge.assignments.v1.unreadable"), "{not json");
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), "[]");
}

TEST_F(AssignmentStoreTest, ANonFiniteValueNeverReachesTheStoredJson) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("com.example.one"));
    store->saveAssignments();
    const auto before = storedText(AssignmentStore::defaultsKey);

    // The operations refuse non-finite input outright.
    store->updateFrame(store->assignments[0].id, {NAN, 0, 92, 104});
    EXPECT_EQ(store->assignments[0].frame, CodableRect(0, 0, 92, 104));
    EXPECT_FALSE(store->setPetSizeScale(NAN));
    EXPECT_EQ(store->preferences.petSizeScale, 1.0);

    // An owner writing one directly gets a line, and the stored value stays.
    store->assignments[0].frame.x = std::numeric_limits<double>::infinity();
    const std::string output = captured([&] { store->saveAssignments(); });
    EXPECT_EQ(output.rfind("Mossbridge: not saving Mossbridge.assignments.v1: ", 0), 0u);
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), before);

    store->preferences.appIconSizeScale = NAN;
    captured([&] { store->savePreferences(); });
    EXPECT_FALSE(defaults->object(AssignmentStore::preferencesKey));
}

TEST_F(AssignmentStoreTest, TwoScaleChangesATenthApartGiveOneWriteOfEachKeyAfterTheSecond) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("com.example.one"));
    ASSERT_TRUE(store->setPetSizeScale(1.5));
    dispatcher.advance(0.1);
    ASSERT_TRUE(store->setPetSizeScale(1.2));

    dispatcher.advance(0.179);
    EXPECT_FALSE(defaults->object(AssignmentStore::defaultsKey));
    EXPECT_FALSE(defaults->object(AssignmentStore::preferencesKey));
    dispatcher.advance(0.001);
    ASSERT_TRUE(storedText(AssignmentStore::preferencesKey));
    EXPECT_NE(storedText(AssignmentStore::preferencesKey)->find("1.2"), std::string::npos);
    ASSERT_TRUE(storedText(AssignmentStore::defaultsKey));

    // Nothing else was pending: a sentinel stays untouched.
    storeText(AssignmentStore::defaultsKey, "sentinel");
    storeText(AssignmentStore::preferencesKey, "sentinel");
    dispatcher.advance(5);
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), "sentinel");
    EXPECT_EQ(storedText(AssignmentStore::preferencesKey), "sentinel");
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(AssignmentStoreTest, AWriteNowCancelsThePendingDebouncedWrite) {
    const auto store = makeStore();
    store->scheduleAssignmentsSave();
    store->saveAssignments();
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), "[]");
    storeText(AssignmentStore::defaultsKey, "sentinel");
    dispatcher.advance(1);
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), "sentinel");
}

TEST_F(AssignmentStoreTest, APendingWriteDoesNothingOnceTheStoreIsGone) {
    auto store = makeStore();
    store->schedulePreferencesSave();
    store.reset();
    dispatcher.advance(1);
    EXPECT_FALSE(defaults->object(AssignmentStore::preferencesKey));
}

}  // namespace
}  // namespace Mossbridge
