#include "Mossbridge/system/NotificationDatabaseReader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "Mossbridge/system/NotificationDatabaseCopy.h"
#include "StatusSourceFixtures.h"
#include "platform/core/Bookmark.h"
#include "platform/desktop/InMemoryWorkspace.h"

namespace Mossbridge {
namespace {

namespace fs = std::filesystem;
using testing::capturedOutput;
using testing::NotificationDatabaseBuilder;
using testing::requestPayload;
using testing::ScratchFolder;

const std::string kPrivacyMessage =
    "Notification badges blocked by macOS privacy. Add Mossbridge to Full Disk Access; if running from Xcode, run "
    "standalone or add Xcode too.";

std::vector<AppStatusTarget> mailAndChat() {
    return {{"com.example.Mail", "Example Mail", 10}, {"com.example.chat", "Chat", 11}};
}

std::size_t filesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

std::string contentsOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class NotificationDatabaseReaderTest : public ::testing::Test {
protected:
    NotificationDatabaseReaderTest()
        : defaults_(std::make_shared<platform::UserDefaults>("reader", scratch_ / "defaults")) {
        fs::create_directories(scratch_ / "tmp");
    }

    NotificationDatabaseReader reader(std::vector<fs::path> candidates) const {
        NotificationDatabaseReader::Options options;
        options.defaults = defaults_;
        options.candidates = std::move(candidates);
        options.temporaryFolder = scratch_ / "tmp";
        return NotificationDatabaseReader(options);
    }

    ScratchFolder scratch_;
    std::shared_ptr<platform::UserDefaults> defaults_;
};

TEST_F(NotificationDatabaseReaderTest, RowsAreFiledNewestFirstWithDatesFrom2001) {
    const auto file = scratch_ / "db2/db";
    {
        NotificationDatabaseBuilder db(file);
        const auto mail = db.addApp("COM.EXAMPLE.MAIL");
        const auto chat = db.addApp("com.example.chat");
        db.addRecord(1, mail, 100.0, requestPayload(std::string("Old"), std::nullopt, std::string("older")));
        db.addRecord(2, mail, 300.5, requestPayload(std::string("New"), std::nullopt, std::string("newer")));
        db.addRecord(3, chat, 200.0, requestPayload(std::nullopt, std::nullopt, std::string("hi")));
    }
    const auto result = reader({file}).readNotificationItems(mailAndChat());
    ASSERT_FALSE(result.error) << *result.error;
    ASSERT_EQ(result.items.size(), 2u);
    const auto& mail = result.items.at("com.example.Mail");
    ASSERT_EQ(mail.size(), 2u);
    EXPECT_EQ(mail[0], (AppNotificationItem{2, "New", std::nullopt, "newer", 978307200.0 + 300.5}));
    EXPECT_EQ(mail[1].recordID, 1);
    EXPECT_EQ(result.items.at("com.example.chat")[0].title, "Chat");  // the target's name stands in
}

TEST_F(NotificationDatabaseReaderTest, AtMostSixPerApplicationFromThe180NewestRows) {
    const auto file = scratch_ / "db";
    {
        NotificationDatabaseBuilder db(file);
        const auto mail = db.addApp("com.example.mail");
        const auto chat = db.addApp("com.example.chat");
        db.exec("begin");
        for (int i = 0; i < 8; ++i) db.addRecord(1000 + i, mail, 5000 + i, requestPayload(std::nullopt, std::nullopt, "m"));
        // Chat's one record is older than 180 newer rows of an unknown app.
        const auto other = db.addApp("org.unknown");
        for (int i = 0; i < 180; ++i) db.addRecord(2000 + i, other, 3000 + i, requestPayload(std::nullopt, std::nullopt, "x"));
        db.addRecord(1, chat, 10, requestPayload(std::nullopt, std::nullopt, "c"));
        db.exec("commit");
    }
    const auto result = reader({file}).readNotificationItems(mailAndChat());
    ASSERT_FALSE(result.error);
    const auto& mail = result.items.at("com.example.Mail");
    ASSERT_EQ(mail.size(), 6u);
    EXPECT_EQ(mail.front().recordID, 1007);
    EXPECT_EQ(mail.back().recordID, 1002);
    EXPECT_FALSE(result.items.contains("com.example.chat"));
}

TEST_F(NotificationDatabaseReaderTest, RowsWithoutIdentifierOrPayloadOrUsableTextAreSkipped) {
    const auto file = scratch_ / "db";
    {
        NotificationDatabaseBuilder db(file);
        const auto mail = db.addApp("com.example.mail");
        const auto nameless = db.addApp(std::nullopt);
        db.addRecord(1, nameless, 50, requestPayload(std::nullopt, std::nullopt, "no app identifier"));
        db.addRecord(2, 999, 40, requestPayload(std::nullopt, std::nullopt, "no app row"));
        db.addRecord(3, mail, 30, std::nullopt);
        db.addRecord(4, mail, 20, platform::PropertyData{0x01, 0x02});
        db.addRecord(5, mail, 10, requestPayload(std::nullopt, std::nullopt, "kept"));
    }
    const auto result = reader({file}).readNotificationItems(mailAndChat());
    ASSERT_FALSE(result.error);
    ASSERT_EQ(result.items.size(), 1u);
    ASSERT_EQ(result.items.at("com.example.Mail").size(), 1u);
    EXPECT_EQ(result.items.at("com.example.Mail")[0].body, "kept");
}

TEST_F(NotificationDatabaseReaderTest, CandidatesAreTriedInOrderUntilOneHasItems) {
    const auto empty = scratch_ / "empty/db";
    const auto full = scratch_ / "full/db";
    {
        NotificationDatabaseBuilder db(empty);
        db.addRecord(1, db.addApp("org.unrelated"), 1, requestPayload(std::nullopt, std::nullopt, "x"));
    }
    {
        NotificationDatabaseBuilder db(full);
        db.addRecord(7, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "found"));
    }
    const auto result = reader({scratch_ / "missing/db", empty, full}).readNotificationItems(mailAndChat());
    ASSERT_FALSE(result.error);
    EXPECT_EQ(result.items.at("com.example.chat")[0].body, "found");
}

TEST_F(NotificationDatabaseReaderTest, NoDatabaseAnywhereIsASuccessWithoutItems) {
    const auto result = reader({scratch_ / "a/db", scratch_ / "b/db"}).readNotificationItems(mailAndChat());
    EXPECT_FALSE(result.error);
    EXPECT_TRUE(result.items.empty());
}

TEST_F(NotificationDatabaseReaderTest, FolderNamesWithUriCharactersOpenTheRightFile) {
    // Unescaped, "file:<scratch>/we?ird#x/db?mode=ro" would open <scratch>/we.
    const auto decoy = scratch_ / "we";
    const auto file = scratch_ / "we?ird#x%41 y" / "db";
    {
        NotificationDatabaseBuilder db(decoy);
        db.addRecord(1, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "decoy"));
    }
    {
        NotificationDatabaseBuilder db(file);
        db.addRecord(2, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "real"));
    }
    const auto result = reader({file}).readNotificationItems(mailAndChat());
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_EQ(result.items.at("com.example.chat")[0].body, "real");
    EXPECT_EQ(readOnlyDatabaseURI("/a b/we?ird#%/db"), "file:/a%20b/we%3Fird%23%25/db?mode=ro");
}

TEST_F(NotificationDatabaseReaderTest, CorruptAndForeignFilesFailWithoutBeingTouched) {
    const auto corrupt = scratch_ / "corrupt/db";
    fs::create_directories(corrupt.parent_path());
    std::ofstream(corrupt) << std::string(4096, 'Z');
    const auto foreign = scratch_ / "foreign/db";
    {
        NotificationDatabaseBuilder db(foreign);
        db.exec("drop table record");
    }
    const std::string corruptBefore = contentsOf(corrupt);
    const std::string foreignBefore = contentsOf(foreign);

    NotificationQueryResult result;
    capturedOutput([&] { result = reader({corrupt, foreign}).readNotificationItems(mailAndChat()); });
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "file is not a database");  // the first candidate's error
    EXPECT_TRUE(result.items.empty());
    EXPECT_EQ(contentsOf(corrupt), corruptBefore);
    EXPECT_EQ(contentsOf(foreign), foreignBefore);
    EXPECT_EQ(filesIn(corrupt.parent_path()), 1u);
    EXPECT_EQ(filesIn(scratch_ / "tmp"), 0u);  // the copies tried were removed

    result = reader({foreign}).readNotificationItems(mailAndChat());
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "no such table: record");
}

// Holds an exclusive lock on a database, as the notification centre's own
// writer can, so that reading in place fails with "database is locked".
class ExclusiveLock {
public:
    explicit ExclusiveLock(const fs::path& file) {
        sqlite3_open(file.c_str(), &db_);
        sqlite3_exec(db_, "begin exclusive", nullptr, nullptr, nullptr);
    }
    ~ExclusiveLock() {
        sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }

private:
    sqlite3* db_ = nullptr;
};

TEST_F(NotificationDatabaseReaderTest, ADatabaseUnreadableInPlaceIsReadFromATemporaryCopy) {
    const auto file = scratch_ / "db";
    {
        NotificationDatabaseBuilder db(file);
        db.addRecord(9, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "copied"));
    }
    ExclusiveLock lock(file);
    const auto result = reader({file}).readNotificationItems(mailAndChat());
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_EQ(result.items.at("com.example.chat")[0].body, "copied");
    EXPECT_EQ(filesIn(scratch_ / "tmp"), 0u);
}

TEST_F(NotificationDatabaseReaderTest, AFailedCopyLeavesNothingBehindAndReportsTheReadError) {
    const auto file = scratch_ / "db";
    {
        NotificationDatabaseBuilder db(file);
        db.addRecord(9, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "x"));
    }
    fs::create_directories(scratch_ / "db-wal");  // the companion cannot be copied
    ExclusiveLock lock(file);
    NotificationQueryResult result;
    const auto output = capturedOutput([&] { result = reader({file}).readNotificationItems(mailAndChat()); });
    ASSERT_TRUE(result.error);  // the read in place failed and no copy could be made
    EXPECT_FALSE(result.error->empty());
    EXPECT_TRUE(result.items.empty());
    EXPECT_EQ(output.rfind("Mossbridge: Notification DB /private/tmp copy failed: ", 0), 0u) << output;
    EXPECT_EQ(filesIn(scratch_ / "tmp"), 0u);
}

TEST_F(NotificationDatabaseReaderTest, CopiesAreReadableByTheUserOnlyAndRemovedCompletely) {
    const auto file = scratch_ / "db";
    { NotificationDatabaseBuilder db(file); }
    std::ofstream(scratch_ / "db-wal") << "wal";
    const auto copy = copyNotificationDatabaseToTemporary(file, scratch_ / "tmp");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->filename().string().rfind("MossbridgeNotificationDB-", 0), 0u);
    EXPECT_EQ(copy->extension(), ".db");
    for (const auto& made : {*copy, fs::path(copy->string() + "-wal")}) {
        EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(contentsOf(copy->string() + "-wal"), "wal");
    EXPECT_FALSE(fs::exists(copy->string() + "-shm"));  // a missing companion is not an error
    removeTemporaryNotificationDatabase(*copy);
    EXPECT_EQ(filesIn(scratch_ / "tmp"), 0u);
}

TEST_F(NotificationDatabaseReaderTest, AChosenFolderReplacesTheDefaultCandidates) {
    const auto chosen = scratch_ / "chosen";
    {
        NotificationDatabaseBuilder db(chosen / "db");
        db.addRecord(5, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "chosen"));
    }
    {
        NotificationDatabaseBuilder db(scratch_ / "default/db");
        db.addRecord(6, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "default"));
    }
    std::string error;
    ASSERT_TRUE(defaults_->set(kNotificationDatabaseFolderBookmarkKey, *platform::createBookmarkData(chosen, error)));
    const auto result = reader({scratch_ / "default/db"}).readNotificationItems(mailAndChat());
    EXPECT_EQ(result.items.at("com.example.chat")[0].body, "chosen");
}

TEST_F(NotificationDatabaseReaderTest, AStaleBookmarkIsRenewedAndItsFolderRead) {
    const auto chosen = scratch_ / "chosen";
    fs::create_directories(chosen);
    std::string error;
    const auto original = *platform::createBookmarkData(chosen, error);
    ASSERT_TRUE(defaults_->set(kNotificationDatabaseFolderBookmarkKey, original));
    fs::remove_all(chosen);
    fs::create_directories(scratch_ / "keeps-the-inode-busy");
    {
        NotificationDatabaseBuilder db(chosen / "db");
        db.addRecord(5, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "replaced"));
    }
    const auto result = reader({}).readNotificationItems(mailAndChat());
    EXPECT_EQ(result.items.at("com.example.chat")[0].body, "replaced");
    const auto stored = defaults_->data(kNotificationDatabaseFolderBookmarkKey);
    ASSERT_TRUE(stored);
    EXPECT_NE(*stored, original);
    EXPECT_FALSE(platform::resolveBookmarkData(*stored, error)->isStale);
}

TEST_F(NotificationDatabaseReaderTest, AFailingBookmarkIsRemovedAndTheDefaultsAreRead) {
    {
        NotificationDatabaseBuilder db(scratch_ / "default/db");
        db.addRecord(6, db.addApp("com.example.chat"), 1, requestPayload(std::nullopt, std::nullopt, "default"));
    }
    ASSERT_TRUE(defaults_->set(kNotificationDatabaseFolderBookmarkKey, testing::bytesOf("not a bookmark")));
    NotificationQueryResult result;
    const auto output =
        capturedOutput([&] { result = reader({scratch_ / "default/db"}).readNotificationItems(mailAndChat()); });
    EXPECT_EQ(output.rfind("Mossbridge: Notification DB folder bookmark failed: ", 0), 0u) << output;
    EXPECT_FALSE(defaults_->object(kNotificationDatabaseFolderBookmarkKey));
    EXPECT_EQ(result.items.at("com.example.chat")[0].body, "default");
}

TEST(NotificationTargetMatchingTest, FilingRulesInTargetOrder) {
    const std::vector<AppStatusTarget> targets = {
        {"com.apple.iCal", "Calendar", 1},
        {"com.example.app", "App", 2},
        {"com.example.app.widget", "Widget", 3},
        {"com.example", "Example", 4},
    };
    const AppDisplayNameLookup none;
    EXPECT_EQ(matchingTargetIndex("com.apple.calendaragent", targets, none), 0u);
    EXPECT_EQ(matchingTargetIndex("com.apple.ical.agent", targets, none), 0u);
    EXPECT_EQ(matchingTargetIndex("com.apple.mobilecal", targets, none), 0u);
    EXPECT_EQ(matchingTargetIndex("com.apple.icalendar", targets, none), std::nullopt);
    EXPECT_EQ(matchingTargetIndex("com.example.app.agent", targets, none), 1u);
    // "com.example" is the exact identifier of the fourth target, but the
    // second one already matches by prefix and comes first.
    EXPECT_EQ(matchingTargetIndex("com.example", targets, none), 1u);
    EXPECT_EQ(matchingTargetIndex("org.other", targets, none), std::nullopt);
}

TEST(NotificationTargetMatchingTest, TheCalendarRuleNeedsACalendarTarget) {
    const std::vector<AppStatusTarget> plain = {{"com.example.app", "App", 1}};
    EXPECT_EQ(matchingTargetIndex("com.apple.calendaragent", plain, {}), std::nullopt);
    const std::vector<AppStatusTarget> byName = {{"org.other.cal", "Calendar!", 1}};
    EXPECT_EQ(matchingTargetIndex("com.apple.calendar.helper", byName, {}), 0u);
}

TEST(NotificationTargetMatchingTest, InstalledApplicationNamesMatchNormalisedTargetNames) {
    auto workspace = std::make_shared<platform::InMemoryWorkspace>();
    platform::InstalledApplication mail;
    mail.application.processIdentifier = 50;
    mail.application.bundleIdentifier = "org.mailer.helper";
    mail.application.bundleURL = "/Applications/Mailer Helper.app";
    mail.running = false;
    mail.infoDictionary = {{"CFBundleDisplayName", "Example Mail"}};
    workspace->install(mail);
    const auto lookup = workspaceAppDisplayName(workspace);
    EXPECT_EQ(lookup("org.mailer.helper"), "Example Mail");
    EXPECT_EQ(lookup("org.unknown"), "org.unknown");

    const std::vector<AppStatusTarget> targets = {{"com.example.mail", "example-mail", 1}};
    EXPECT_EQ(matchingTargetIndex("org.mailer.helper", targets, lookup), 0u);
    EXPECT_EQ(matchingTargetIndex("org.mailer.helper", targets, {}), std::nullopt);
}

TEST(NotificationPrivacyMessageTest, PermissionErrorsBecomeThePrivacyMessage) {
    EXPECT_EQ(notificationPrivacyMessage("authorization denied"), kPrivacyMessage);
    EXPECT_EQ(notificationPrivacyMessage("unable to open: Operation Not Permitted"), kPrivacyMessage);
    EXPECT_EQ(notificationPrivacyMessage("PERMISSION denied"), kPrivacyMessage);
    EXPECT_EQ(notificationPrivacyMessage("database is locked"), std::nullopt);
}

}  // namespace
}  // namespace Mossbridge
