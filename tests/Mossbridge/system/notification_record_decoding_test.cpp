#include "Mossbridge/system/NotificationRecordDecoding.h"

#include <gtest/gtest.h>

#include "StatusSourceFixtures.h"

namespace Mossbridge {
namespace {

using testing::bytesOf;
using testing::requestPayload;

std::optional<AppNotificationItem> decode(const platform::PropertyData& payload) {
    return decodeNotificationRecordData(42, 1.7e9, payload.data(), payload.size(), "Example Mail");
}

TEST(NotificationPayloadTest, TitleSubtitleAndBodyAreCleaned) {
    const auto item = decode(requestPayload(std::string("  Hello\n"), std::string("Re: lunch"), std::string("\tSee you")));
    ASSERT_TRUE(item);
    EXPECT_EQ(*item, (AppNotificationItem{42, "Hello", std::string("Re: lunch"), "See you", 1.7e9}));
}

TEST(NotificationPayloadTest, OnlyASubtitleGivesTheAppNameAsTitleAndTheSubtitleAsBody) {
    const auto item = decode(requestPayload(std::nullopt, std::string("Build finished"), std::nullopt));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Example Mail");
    EXPECT_EQ(item->subtitle, "Build finished");
    EXPECT_EQ(item->body, "Build finished");
}

TEST(NotificationPayloadTest, NoUsableTextGivesTheAppNameAsTitleAndBody) {
    const auto item = decode(requestPayload(std::string("   "), std::string(""), std::string("\n")));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Example Mail");
    EXPECT_EQ(item->subtitle, std::nullopt);
    EXPECT_EQ(item->body, "Example Mail");
}

TEST(NotificationPayloadTest, MistypedFieldsCountAsMissing) {
    platform::PropertyDictionary request{{"titl", 7}, {"subt", platform::PropertyArray{"x"}}, {"body", "Text"}};
    const auto payload = platform::serializePropertyList(
        platform::PropertyValue(platform::PropertyDictionary{{"req", platform::PropertyValue(request)}}),
        platform::PropertyListFormat::Xml);
    const auto item = decode(*payload);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Example Mail");
    EXPECT_EQ(item->subtitle, std::nullopt);
    EXPECT_EQ(item->body, "Text");
}

TEST(NotificationPayloadTest, AnEmptyAppNameAndNoTextGiveNoItem) {
    const auto payload = requestPayload(std::nullopt, std::nullopt, std::nullopt);
    EXPECT_FALSE(decodeNotificationRecordData(1, 0, payload.data(), payload.size(), ""));
}

TEST(NotificationPayloadFallbackTest, AnUnreadableKeyedArchiveGivesItsFirstPlainTextRun) {
    std::string archive;
    for (const char* part : {"$archiver", "NSMutableDictionary", "$top", "NS.objects", "ab",
                             "  Your parcel has shipped  ", "Second text"}) {
        archive += part;
        archive += '\x81';
    }
    const auto item = decode(bytesOf(archive));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Example Mail");
    EXPECT_EQ(item->subtitle, std::nullopt);
    EXPECT_EQ(item->body, "Your parcel has shipped");
}

TEST(NotificationPayloadFallbackTest, RunsSkipArchiveTokensShortRunsAndRepeats) {
    std::string bytes;
    for (const char* part : {"$objects", "abc", "NSMutableString", "Meeting moved", "Meeting moved", " xy ", "Room 4"}) {
        bytes += part;
        bytes += '\xff';
    }
    const auto runs = printableTextRuns(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    // "abc" is one byte short of a run; " xy " is a run but only 2 characters once cleaned.
    EXPECT_EQ(runs, (std::vector<std::string>{"Meeting moved", "Room 4"}));
}

TEST(NotificationPayloadFallbackTest, LongRunsAreCutTo180Characters) {
    const std::string text(400, 'a');
    const auto runs = printableTextRuns(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], std::string(180, 'a'));
}

TEST(NotificationPayloadFallbackTest, TruncatedPropertyListsAndBinaryNoiseNeverFail) {
    auto payload = requestPayload(std::string("Title"), std::nullopt, std::string("Body text"));
    for (std::size_t length = 0; length < payload.size(); ++length) {
        const auto item = decodeNotificationRecordData(1, 0, payload.data(), length, "App");
        if (item) {
            EXPECT_FALSE(item->body.empty());
        }
    }
    const platform::PropertyData noise = {0x00, 0x01, 0x80, 0xff, 0x10};
    EXPECT_FALSE(decode(noise));
}

}  // namespace
}  // namespace Mossbridge
