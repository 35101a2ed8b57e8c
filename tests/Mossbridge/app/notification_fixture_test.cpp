// The notification database built for runs without a display reads back
// through the application's own reader; bad fixtures name the bad value.

#include "Mossbridge/app/NotificationDatabaseFixture.h"

#include <gtest/gtest.h>

#include <fstream>

#include "Mossbridge/system/NotificationDatabaseQuery.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge {
namespace {

namespace fs = std::filesystem;

fs::path fixtureWith(const std::string& text) {
    const fs::path path = platform::temporaryDirectory() / "fixture.notifications.json";
    std::ofstream(path) << text;
    return path;
}

TEST(NotificationFixture, RecordsReadBackThroughTheReaderNewestFirst) {
    const fs::path database = platform::temporaryDirectory() / "built" / "db";
    const auto error = buildNotificationDatabase(
        fixtureWith(R"({"records": [
            {"app": "com.example.chat", "recordID": 1, "delivered": -60, "title": "Ana", "body": "Lunch?"},
            {"app": "com.example.chat", "recordID": 2, "delivered": -5, "subtitle": "Only a subtitle"}]})"),
        database, 1.7e9);
    ASSERT_FALSE(error) << *error;
    const auto result =
        queryNotificationDatabase(readOnlyDatabaseURI(database), {{"com.example.chat", "Chat", 1}}, nullptr);
    ASSERT_FALSE(result.error) << *result.error;
    const auto& items = result.items.at("com.example.chat");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (AppNotificationItem{2, "Chat", "Only a subtitle", "Only a subtitle", 1.7e9 - 5}));
    EXPECT_EQ(items[1], (AppNotificationItem{1, "Ana", std::nullopt, "Lunch?", 1.7e9 - 60}));
}

TEST(NotificationFixture, ARecordDeliveredDuringTheRunIsInTheDatabaseFromItsTimeOn) {
    const fs::path database = platform::temporaryDirectory() / "arriving" / "db";
    const fs::path fixture = fixtureWith(R"({"records": [
        {"app": "com.example.chat", "recordID": 1, "delivered": -60, "body": "Before"},
        {"app": "com.example.chat", "recordID": 2, "delivered": 3, "body": "Three"},
        {"app": "com.example.chat", "recordID": 3, "delivered": 7.5, "body": "Later"},
        {"app": "com.example.chat", "recordID": 4, "delivered": 3, "body": "Also three"}]})");
    EXPECT_EQ(notificationArrivalTimes(fixture), (std::vector<double>{3, 7.5}));
    for (const auto& [elapsed, delivered] : {std::pair{0.0, 1u}, std::pair{3.0, 3u}, std::pair{10.0, 4u}}) {
        ASSERT_FALSE(buildNotificationDatabase(fixture, database, 1.7e9, elapsed));
        const auto result =
            queryNotificationDatabase(readOnlyDatabaseURI(database), {{"com.example.chat", "Chat", 1}}, nullptr);
        ASSERT_FALSE(result.error) << *result.error;
        EXPECT_EQ(result.items.at("com.example.chat").size(), delivered) << elapsed;
    }
}

TEST(NotificationFixture, ABadFixtureNamesTheBadValue) {
    const fs::path database = platform::temporaryDirectory() / "bad" / "db";
    const struct {
        const char* text;
        const char* path;
    } cases[] = {
        {R"({"records": [{"app": "a", "recordID": "7"}]})", "records[0].recordID"},
        {R"({"records": [{"recordID": 7}]})", "records[0].app"},
        {R"({"records": [{"app": "a", "recordID": 7, "title": 5}]})", "records[0].title"},
        {R"({"records": [{"app": "a", "recordID": 7}, {"app": "b", "recordID": 7}]})", "UNIQUE"},
        {"[", "not valid JSON"},
    };
    for (const auto& c : cases) {
        const auto error = buildNotificationDatabase(fixtureWith(c.text), database, 0);
        ASSERT_TRUE(error) << c.text;
        EXPECT_NE(error->find(c.path), std::string::npos) << *error;
    }
}

}  // namespace
}  // namespace Mossbridge
