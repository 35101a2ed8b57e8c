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

// A stored record of the app `bundle` named "App <bundle>", with `members` after its names.
std::string record(const std::string& bundle, const std::string& members) {
    return R"({"id":")" + platform::Uuid::random().string() + R"(","bundleIdentifier":")" + bundle +
           R"(","appName":"App )" + bundle + R"(",)" + members + "}";
}

std::string withFrame(const std::string& frame) { return R"("petKind":"Robot V1","frame":{)" + frame + "}"; }

TEST_F(AssignmentStoreTest, EachBadStoredRecordIsNamedAndLeftOutOrPlacedAnewWhileTheOthersLoad) {
    const std::string goodFrame = withFrame(R"("x":10,"y":20,"width":92,"height":104)");
    const struct {
        std::string record;
        const char* keptApp;  // none when the record is left out
        std::string line;
    } bad[] = {
        {record("w", withFrame(R"("x":0,"y":0,"width":1e300,"height":104)")), "w",
         R"(of app "App w" ("w"), kind "Robot V1", placed as a new pet: )"
         "[1].frame.width: a side must be from 1 to 16384 points"},
        {record("h", withFrame(R"("x":0,"y":0,"width":92,"height":1e9)")), "h",
         R"(of app "App h" ("h"), kind "Robot V1", placed as a new pet: )"
         "[2].frame.height: a side must be from 1 to 16384 points"},
        {record("n", withFrame(R"("x":0,"y":0,"width":-1,"height":104)")), "n",
         R"(of app "App n" ("n"), kind "Robot V1", placed as a new pet: )"
         "[3].frame.width: a side must be from 1 to 16384 points"},
        {record("x", withFrame(R"("x":1e400,"y":0,"width":92,"height":104)")), "x",
         R"(of app "App x" ("x"), kind "Robot V1", placed as a new pet: [4].frame.x: number is not finite)"},
        {record("k", R"("petKind":"Dragon","frame":{"x":0,"y":0,"width":92,"height":104})"), nullptr,
         R"(of app "App k" ("k"), kind "Dragon", left out: [5].petKind: unknown pet kind)"},
        {R"("a pet")", nullptr, "of app unknown (unknown), kind unknown, left out: [6]: expected an object"},
        {R"({"bundleIdentifier":"m","appName":"App m","petKind":"Robot V1"})", nullptr,
         R"(of app "App m" ("m"), kind "Robot V1", left out: [7].id: required value is missing or null)"},
        {record("t", withFrame(R"("x":0,"y":0,"width":"92","height":104)")), nullptr,
         R"(of app "App t" ("t"), kind "Robot V1", left out: [8].frame.width: expected a number)"},
    };
    // A pet without its stored frame sits where a new pet at its place in the list would, at the stored size.
    storeText(AssignmentStore::preferencesKey, R"({"petSizeScale":0.5})");
    std::vector<std::pair<std::string, platform::Rect>> expected{{"first", {10, 20, 92, 104}}};
    std::string stored = "[" + record("first", goodFrame);
    std::string expectedLines;
    for (const auto& row : bad) {
        stored += "," + row.record;
        expectedLines += "Mossbridge: stored pet " + row.line + "\n";
        if (row.keptApp) expected.emplace_back(row.keptApp, platform::Rect(160 + 46.0 * expected.size(), 180, 46, 52));
    }
    stored += "," + record("last", goodFrame) + "]";
    expected.emplace_back("last", platform::Rect(10, 20, 92, 104));
    storeText(AssignmentStore::defaultsKey, stored);

    std::shared_ptr<AssignmentStore> store;
    EXPECT_EQ(captured([&] { store = makeStore(); }), expectedLines);
    std::vector<std::pair<std::string, platform::Rect>> loaded;
    for (const AppAssignment& a : store->assignments) loaded.emplace_back(a.bundleIdentifier, a.frame.rect());
    EXPECT_EQ(loaded, expected);
    // Loading alone writes nothing; the first save keeps the original aside, once.
    EXPECT_EQ(storedText(AssignmentStore::defaultsKey), stored);
    EXPECT_FALSE(defaults->object("Mossbridge.assignments.v1.unreadable"));
    EXPECT_EQ(captured([&] { store->saveAssignments(); }),
              "Mossbridge: stored Mossbridge.assignments.v1 could not be read; kept a copy under "
              "Mossbridge.assignments.v1.unreadable\n");
    EXPECT_EQ(storedText("Mossbridge.assignments.v1.unreadable"), stored);
    EXPECT_EQ(captured([&] { store->saveAssignments(); }), "");
    std::shared_ptr<AssignmentStore> reloaded;
    EXPECT_EQ(captured([&] { reloaded = makeStore(); }), "");
    EXPECT_EQ(reloaded->assignments, store->assignments);
}

TEST_F(AssignmentStoreTest, AStoredPetOnNoScreenMovesOntoTheMainScreenAtItsSizeAndIsNamed) {
    screenVisibleFrames = {{0, 25, 1440, 850}, {1440, 0, 1920, 1080}};
    const struct {
        const char* frame;
        platform::Rect loaded;
        bool moved;
    } rows[] = {
        {R"("x":5000,"y":5000,"width":92,"height":104)", {1330, 753, 92, 104}, true},
        // Larger than the main screen: its top-left corner goes inside.
        {R"("x":-2000,"y":-900,"width":2000,"height":1000)", {18, -143, 2000, 1000}, true},
        {R"("x":-50,"y":10,"width":92,"height":104)", {-50, 10, 92, 104}, false},
        {R"("x":2000,"y":300,"width":92,"height":104)", {2000, 300, 92, 104}, false},
    };
    std::string stored;
    std::string expectedLines;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string app = "r" + std::to_string(i);
        stored += (i ? "," : "[") + record(app, withFrame(rows[i].frame));
        if (rows[i].moved) {
            expectedLines += R"(Mossbridge: stored pet of app "App )" + app + R"(" (")" + app +
                             R"("), kind "Robot V1", moved onto the main screen: [)" + std::to_string(i) +
                             "].frame: on no screen\n";
        }
    }
    storeText(AssignmentStore::defaultsKey, stored + "]");

    std::shared_ptr<AssignmentStore> store;
    EXPECT_EQ(captured([&] { store = makeStore(); }), expectedLines);
    ASSERT_EQ(store->assignments.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(store->assignments[i].frame.rect(), rows[i].loaded) << i;
    }

    // With no screen known, every frame stays as stored.
    screenVisibleFrames.clear();
    EXPECT_EQ(captured([&] { store = makeStore(); }), "");
    EXPECT_EQ(store->assignments[0].frame, CodableRect(5000, 5000, 92, 104));

    // Moved pets alone are reason enough to keep the original aside.
    screenVisibleFrames = {{0, 25, 1440, 850}};
    captured([&] { store = makeStore(); });
    captured([&] { store->saveAssignments(); });
    EXPECT_EQ(storedText("Mossbridge.assignments.v1.unreadable"), stored + "]");
}

TEST_F(AssignmentStoreTest, AStoredPetSizeNoPetCanHaveIsNamedAndKeptWhilePetsTakeTheDefault) {
    const std::string stored = R"({"petSizeScale":1e300,"displayBadges":false})";
    storeText(AssignmentStore::preferencesKey, stored);
    std::shared_ptr<AssignmentStore> store;
    EXPECT_EQ(captured([&] { store = makeStore(); }),
              "Mossbridge: stored petSizeScale 1e+300, using the default 1: a pet's side at this size would be over "
              "16384 points\n");
    EXPECT_EQ(store->preferences, (MossbridgePreferences{1.0, 1.0, false, false, false}));

    // A pet added now is written; the stored text stays until a setting is changed, and then goes aside.
    EXPECT_EQ(captured([&] { store->autoAttachRunningApps({{"com.example.one", "One", 0, nullptr}}); }), "");
    EXPECT_TRUE(storedText(AssignmentStore::defaultsKey));
    dispatcher.advance(5);
    EXPECT_EQ(storedText(AssignmentStore::preferencesKey), stored);
    store->preferences.displayBadges = true;
    captured([&] { store->savePreferences(); });
    EXPECT_EQ(storedText("Mossbridge.preferences.v1.unreadable"), stored);
}

// A tiny stored size loads as it stands, and a pet placed with it keeps a
// side a frame can be stored with, so the list is still written.
TEST_F(AssignmentStoreTest, APetPlacedAtATinyStoredSizeIsStillStored) {
    storeText(AssignmentStore::preferencesKey, R"({"petSizeScale":0.005})");
    const auto store = makeStore();
    EXPECT_EQ(store->preferences.petSizeScale, 0.005);
    EXPECT_EQ(captured([&] { store->autoAttachRunningApps({{"com.example.one", "One", 0, nullptr}}); }), "");
    const auto stored = storedText(AssignmentStore::defaultsKey);
    ASSERT_TRUE(stored);
    EXPECT_NE(stored->find("com.example.one"), std::string::npos) << *stored;
}

TEST_F(AssignmentStoreTest, AFrameNoScreenCanShowNeverReachesTheStore) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("com.example.one", {160, 180, 92, 104}));
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
