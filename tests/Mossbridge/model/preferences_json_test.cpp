#include "Mossbridge/model/MossbridgePreferences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

namespace Mossbridge {
namespace {

DecodedPreferences decodedWithProblems(const std::string& text) {
    const auto result = decodePreferences(text);
    EXPECT_TRUE(result.ok()) << text << ": " << result.error();
    return result ? result.value() : DecodedPreferences{};
}

MossbridgePreferences decoded(const std::string& text) { return decodedWithProblems(text).preferences; }

TEST(PreferencesDecoding, AbsentOrNullMembersTakeDefaults) {
    const MossbridgePreferences defaults{1.0, 1.0, true, false, false};
    EXPECT_EQ(MossbridgePreferences{}, defaults);
    EXPECT_EQ(decoded("{}"), defaults);
    EXPECT_EQ(decoded(R"({"petSizeScale":null,"appIconSizeScale":null,"displayBadges":null,
                          "autoAttachAllRunningApps":null,"partyModeWhenMusicPlays":null,"theme":"dark"})"),
              defaults);
}

TEST(PreferencesDecoding, StoredValuesLoadUnclamped) {
    EXPECT_EQ(decoded(R"({"petSizeScale":3.0,"appIconSizeScale":0.01,"displayBadges":false,
                          "autoAttachAllRunningApps":true})"),
              (MossbridgePreferences{3.0, 0.01, false, true, false}));
    EXPECT_EQ(decoded(R"({"petSizeScale":2})").petSizeScale, 2.0);
    EXPECT_EQ(decoded(R"({"petSizeScale":1e-300})").petSizeScale, 1e-300);
    EXPECT_EQ(decoded(R"({"petSizeScale":157})").petSizeScale, 157);
}

TEST(PreferencesDecoding, UnusableScalesReadAsDefaultAndTheRestStillLoads) {
    // 170 is past the bound only for the taller side of a pet.
    for (const char* stored : {"0", "-0.0", "-1", "-1e-300", "1e400", "-1e400", "1e300", "170"}) {
        for (const char* key : {"petSizeScale", "appIconSizeScale"}) {
            const std::string text = std::string(R"({"displayBadges":false,")") + key + "\":" + stored + "}";
            const DecodedPreferences result = decodedWithProblems(text);
            EXPECT_EQ(result.preferences, (MossbridgePreferences{1.0, 1.0, false, false, false})) << text;
            ASSERT_EQ(result.problems.size(), 1u) << text;
            EXPECT_EQ(result.problems[0].member.rfind(std::string(key) + " ", 0), 0u) << result.problems[0].member;
        }
    }
}

TEST(PreferencesDecoding, WrongTypesFailTheObject) {
    for (const char* text : {R"({"petSizeScale":"1.2"})", R"({"appIconSizeScale":true})", R"({"displayBadges":1})",
                             R"({"displayBadges":1e400})", "[]", "null", "", "{", "1e400"}) {
        EXPECT_FALSE(decodePreferences(text).ok()) << text;
    }
}

TEST(PreferencesEncoding, WritesEveryMemberAndRejectsNonFiniteScales) {
    const MossbridgePreferences p{1.35, 1.0, true, false, true};
    const auto encoded = encodePreferences(p);
    ASSERT_TRUE(encoded.ok()) << encoded.error();
    EXPECT_EQ(nlohmann::json::parse(encoded.value()), (nlohmann::json{{"petSizeScale", 1.35},
                                                                      {"appIconSizeScale", 1.0},
                                                                      {"displayBadges", true},
                                                                      {"autoAttachAllRunningApps", false},
                                                                      {"partyModeWhenMusicPlays", true}}));
    EXPECT_EQ(decoded(encoded.value()), p);

    const auto nonFinite = encodePreferences({1.0, std::nan(""), true, false, false});
    ASSERT_FALSE(nonFinite.ok());
    EXPECT_NE(nonFinite.error().find("appIconSizeScale"), std::string::npos);
}

}  // namespace
}  // namespace Mossbridge
