#include "Mossbridge/system/AppStatusService.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "Mossbridge/system/NotificationDatabaseReader.h"
#include "StatusSourceFixtures.h"
#include "platform/core/Bookmark.h"

namespace Mossbridge {
namespace {

using testing::capturedOutput;
using testing::ScratchFolder;

AppNotificationItem item(std::int64_t recordID, const std::string& body = "text") {
    return {recordID, "Title", std::nullopt, body, 1000.0 + static_cast<double>(recordID)};
}

const AppStatusTarget kMail{"com.example.Mail", "Mail", 10};
const AppStatusTarget kChat{"com.example.chat", "Chat", 11};

// Sources whose answers the test sets, counting the reads.
struct FakeSources {
    std::map<std::string, std::string> badges;
    NotificationQueryResult notifications;
    int badgeReads = 0;
    int notificationReads = 0;

    AppStatusService::Sources sources() {
        return {[this](const std::vector<AppStatusTarget>&) {
                    ++badgeReads;
                    return badges;
                },
                [this](const std::vector<AppStatusTarget>&) {
                    ++notificationReads;
                    return notifications;
                }};
    }
};

class AppStatusServiceTest : public ::testing::Test {
protected:
    std::unique_ptr<AppStatusService> makeService() {
        return std::make_unique<AppStatusService>(fake_.sources(), clock_, defaults_);
    }

    const AppStatus& status(const AppStatusService& service, const std::string& bundleIdentifier) {
        return service.lastStatuses().at(bundleIdentifier);
    }

    ScratchFolder scratch_;
    std::shared_ptr<platform::UserDefaults> defaults_ =
        std::make_shared<platform::UserDefaults>("status", scratch_ / "defaults");
    platform::VirtualClock clock_{1.7e9};
    FakeSources fake_;
};

TEST_F(AppStatusServiceTest, SourcesAreReadEveryTwoSecondsWithBadgesAndEverySixWithout) {
    auto service = makeService();
    fake_.badges = {{"com.example.Mail", "3"}};
    service->refresh({kMail});
    EXPECT_EQ(fake_.badgeReads, 1);
    EXPECT_EQ(status(*service, "com.example.Mail").badgeText, "3");

    clock_.advance(1.0);
    service->refresh({kMail});
    EXPECT_EQ(fake_.badgeReads, 1);
    EXPECT_EQ(fake_.notificationReads, 1);
    EXPECT_EQ(status(*service, "com.example.Mail").badgeText, "3");  // from the cache

    clock_.advance(1.5);
    fake_.badges.clear();
    service->refresh({kMail});
    EXPECT_EQ(fake_.badgeReads, 2);
    EXPECT_EQ(status(*service, "com.example.Mail").badgeText, std::nullopt);

    clock_.advance(5.9);
    service->refresh({kMail});
    EXPECT_EQ(fake_.badgeReads, 2);
    clock_.advance(0.2);
    service->refresh({kMail});
    EXPECT_EQ(fake_.badgeReads, 3);
    EXPECT_EQ(fake_.notificationReads, 3);
}

TEST_F(AppStatusServiceTest, SettingTheWallClockBackDoesNotStopTheReads) {
    auto service = makeService();
    service->refresh({kMail});
    clock_.setWallTime(clock_.now() - 3600);
    clock_.advance(6.5);
    service->refresh({kMail});
    EXPECT_EQ(fake_.badgeReads, 2);
}

TEST_F(AppStatusServiceTest, ANotificationArrivingAfterLaunchIsAnnouncedExactlyOnce) {
    auto service = makeService();
    fake_.notifications.items = {{"com.example.Mail", {item(5), item(4)}}};
    service->refresh({kMail});
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, std::nullopt);  // already there at launch
    EXPECT_EQ(status(*service, "com.example.Mail").notifications.size(), 2u);

    fake_.notifications.items = {{"com.example.Mail", {item(6, "new"), item(5), item(4)}}};
    clock_.advance(6.1);
    service->refresh({kMail});
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, item(6, "new"));

    clock_.advance(1.0);  // no read: the pending item is not handed out again
    service->refresh({kMail});
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, std::nullopt);
    EXPECT_EQ(status(*service, "com.example.Mail").notifications.front(), item(6, "new"));
}

TEST_F(AppStatusServiceTest, AnApplicationThatStartsLaterIsSeededSilently) {
    auto service = makeService();
    fake_.notifications.items = {{"com.example.chat", {item(9)}}};
    service->refresh({kMail});
    clock_.advance(6.1);
    service->refresh({kMail, kChat});
    EXPECT_EQ(status(*service, "com.example.chat").newNotification, std::nullopt);
    EXPECT_EQ(status(*service, "com.example.chat").notifications, std::vector<AppNotificationItem>{item(9)});
}

TEST_F(AppStatusServiceTest, ALowerHeadAnnouncesNothingAndLowersTheLatestIdentifier) {
    auto service = makeService();
    fake_.notifications.items = {{"com.example.Mail", {item(5)}}};
    service->refresh({kMail});
    fake_.notifications.items = {{"com.example.Mail", {item(3)}}};
    clock_.advance(6.1);
    service->refresh({kMail});
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, std::nullopt);
    fake_.notifications.items = {{"com.example.Mail", {item(4)}}};
    clock_.advance(6.1);
    service->refresh({kMail});
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, item(4));
}

TEST_F(AppStatusServiceTest, AFailedReadKeepsTheNotificationsAndSaysWhy) {
    auto service = makeService();
    fake_.notifications.items = {{"com.example.Mail", {item(5)}}};
    service->refresh({kMail});
    fake_.notifications = {{}, std::string("database is locked")};
    clock_.advance(6.1);
    const auto output = capturedOutput([&] { service->refresh({kMail}); });
    EXPECT_EQ(output, "Mossbridge: Notification list unavailable: database is locked\n");
    EXPECT_EQ(status(*service, "com.example.Mail").notifications, std::vector<AppNotificationItem>{item(5)});

    // A read that finds nothing at all is a success: the notifications go away.
    fake_.notifications = {};
    clock_.advance(6.1);
    service->refresh({kMail});
    EXPECT_TRUE(status(*service, "com.example.Mail").notifications.empty());
}

TEST_F(AppStatusServiceTest, ClearingHidesNotificationsNowAndAfterARestart) {
    auto service = makeService();
    fake_.notifications.items = {{"com.example.Mail", {item(5)}}};
    service->refresh({kMail});
    fake_.notifications.items = {{"com.example.Mail", {item(7), item(6), item(5)}}};
    clock_.advance(6.1);
    service->refresh({kMail});  // hands out 7 as new
    fake_.notifications.items = {{"com.example.Mail", {item(8), item(7), item(6), item(5)}}};
    clock_.advance(6.1);
    service->refresh({kMail});  // hands out 8 as new: lastStatuses holds it

    service->clearNotifications("com.example.Mail", 8);
    EXPECT_TRUE(status(*service, "com.example.Mail").notifications.empty());
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, std::nullopt);
    service->clearNotifications("com.example.Mail", 6);  // a lower clear keeps the higher one
    EXPECT_EQ(loadClearedNotificationRecordIDs(*defaults_), (std::map<std::string, std::int64_t>{{"com.example.Mail", 8}}));

    auto relaunched = makeService();
    relaunched->refresh({kMail});
    EXPECT_TRUE(status(*relaunched, "com.example.Mail").notifications.empty());
    fake_.notifications.items = {{"com.example.Mail", {item(9), item(8), item(7)}}};
    clock_.advance(6.1);
    relaunched->refresh({kMail});
    EXPECT_EQ(status(*relaunched, "com.example.Mail").notifications, std::vector<AppNotificationItem>{item(9)});
    // Nothing had survived the clearing, so 9 is the first item seen: seeded, not announced.
    EXPECT_EQ(status(*relaunched, "com.example.Mail").newNotification, std::nullopt);
}

TEST_F(AppStatusServiceTest, ClearingKeepsWhatIsAboveTheIdentifier) {
    auto service = makeService();
    fake_.notifications.items = {{"com.example.Mail", {item(5)}}};
    service->refresh({kMail});
    fake_.notifications.items = {{"com.example.Mail", {item(7), item(6), item(5)}}};
    clock_.advance(6.1);
    service->refresh({kChat, kMail});
    ASSERT_EQ(status(*service, "com.example.Mail").newNotification, item(7));

    service->clearNotifications("com.example.Mail", 6);
    EXPECT_EQ(status(*service, "com.example.Mail").notifications, std::vector<AppNotificationItem>{item(7)});
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, item(7));
    service->clearNotifications("com.example.Mail", 7);
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, std::nullopt);

    // Clearing an application without a status creates none.
    service->clearNotifications("org.absent", 1);
    EXPECT_FALSE(service->lastStatuses().contains("org.absent"));
}

TEST_F(AppStatusServiceTest, AnApplicationThatReturnsIsSeededAgainSilently) {
    auto service = makeService();
    fake_.notifications.items = {{"com.example.Mail", {item(5)}}};
    service->refresh({kMail});
    service->refresh({});  // Mail quits: its latest identifier is forgotten
    fake_.notifications.items = {{"com.example.Mail", {item(6), item(5)}}};
    clock_.advance(6.1);
    service->refresh({kMail});
    EXPECT_EQ(status(*service, "com.example.Mail").newNotification, std::nullopt);
}

TEST_F(AppStatusServiceTest, AnApplicationThatQuitsLosesItsInMemoryClearing) {
    auto service = makeService();
    service->refresh({kMail, kChat});
    service->clearNotifications("com.example.Mail", 3);
    service->clearNotifications("com.example.chat", 4);
    service->refresh({kChat});
    EXPECT_FALSE(service->lastStatuses().contains("com.example.Mail"));
    service->clearNotifications("com.example.chat", 5);
    EXPECT_EQ(loadClearedNotificationRecordIDs(*defaults_), (std::map<std::string, std::int64_t>{{"com.example.chat", 5}}));
}

TEST_F(AppStatusServiceTest, EveryRefreshWritesItsFinishLine) {
    auto service = makeService();
    fake_.badges = {{"com.example.Mail", "1"}};
    fake_.notifications.items = {{"com.example.Mail", {item(2), item(1)}}};
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    const auto output = capturedOutput([&] { service->refresh({kMail, kChat}); });
    unsetenv("MOSSBRIDGE_PERF_LOGS");
    EXPECT_NE(output.find(" status.refresh.finish 0.0ms apps=2 badges=1 notifications=2 activities=0\n"),
              std::string::npos)
        << output;
}

TEST(ClearedNotificationRecordIDsTest, NumbersAreReadAndOtherValuesSkipped) {
    ScratchFolder scratch;
    platform::UserDefaults defaults("cleared", scratch / "defaults");
    ASSERT_TRUE(defaults.set(kClearedNotificationRecordIDsKey,
                             platform::PropertyValue(platform::PropertyDictionary{
                                 {"a", 9223372036854775807LL}, {"b", 12.9}, {"c", "7"}, {"d", platform::PropertyArray{}}})));
    EXPECT_EQ(loadClearedNotificationRecordIDs(defaults),
              (std::map<std::string, std::int64_t>{{"a", 9223372036854775807LL}, {"b", 12}}));
    ASSERT_TRUE(defaults.set(kClearedNotificationRecordIDsKey, "not a dictionary"));
    EXPECT_TRUE(loadClearedNotificationRecordIDs(defaults).empty());
}

TEST(NotificationDatabaseFolderStatusTest, SelectedWhileAChosenFolderResolves) {
    ScratchFolder scratch;
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    platform::UserDefaults::resetSharedInstancesForTesting();

    EXPECT_EQ(AppStatusService::notificationDatabaseFolderStatus(), "Default");
    std::filesystem::create_directories(scratch / "chosen");
    std::string error;
    ASSERT_TRUE(platform::UserDefaults::standard()->set(kNotificationDatabaseFolderBookmarkKey,
                                                        *platform::createBookmarkData(scratch / "chosen", error)));
    EXPECT_EQ(AppStatusService::notificationDatabaseFolderStatus(), "Selected");
    std::filesystem::remove_all(scratch / "chosen");
    capturedOutput([] { EXPECT_EQ(AppStatusService::notificationDatabaseFolderStatus(), "Default"); });
    EXPECT_FALSE(platform::UserDefaults::standard()->object(kNotificationDatabaseFolderBookmarkKey));

    if (previous) setenv("XDG_CONFIG_HOME", previous->c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
    platform::UserDefaults::resetSharedInstancesForTesting();
}

}  // namespace
}  // namespace Mossbridge
