#include "platform/core/Uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using platform::Uuid;

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

TEST(UuidRandom, IsCanonicalUpperCaseVersion4) {
    for (int i = 0; i < 200; ++i) {
        const std::string text = platform::makeUuidString();
        ASSERT_EQ(text.size(), 36u) << text;
        for (std::size_t j = 0; j < text.size(); ++j) {
            if (j == 8 || j == 13 || j == 18 || j == 23) EXPECT_EQ(text[j], '-') << text;
            else EXPECT_TRUE(isUpperHex(text[j])) << text;
        }
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        EXPECT_TRUE(platform::isValidUuidString(text));
    }
}

TEST(UuidRandom, DoesNotRepeat) {
    std::set<std::string> seen;
    for (int i = 0; i < 10000; ++i) seen.insert(platform::makeUuidString());
    EXPECT_EQ(seen.size(), 10000u);
}

TEST(UuidParse, ReadsEitherCaseAndWritesUpperCase) {
    const auto upper = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(upper->bytes()[0], 0xE6);
    EXPECT_EQ(upper->bytes()[15], 0x5F);
    const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(lower);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(Uuid::parse("00000000-0000-0000-0000-000000000000")->string(), "00000000-0000-0000-0000-000000000000");
}

TEST(UuidParse, RejectsAnythingButTheCanonicalForm) {
    for (const char* text : {
             "",
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5",     // one digit short
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0",   // one digit long
             "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",  // braces
             "E621E1F8C36C495A93FC0C247A3E6E5F",        // no hyphens
             "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",    // hyphen moved
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",    // not hexadecimal
             "E621E1F8-C36C-495A-93FC+0C247A3E6E5F",    // wrong separator
             " E621E1F8-C36C-495A-93FC-0C247A3E6E5",    // leading blank
         }) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
        EXPECT_FALSE(platform::isValidUuidString(text)) << text;
    }
    EXPECT_FALSE(Uuid::parse(std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36)));
}

}  // namespace
