#include "Mossbridge/model/AppAssignment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

namespace Mossbridge {
namespace {

using nlohmann::json;

const char* const kId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";

json stored() {
    return json{{"id", kId},
                {"bundleIdentifier", "com.tinyspeck.slackmacgap"},
                {"appName", "Slack"},
                {"petKind", "Robot V1"},
                {"category", "Chat"},
                {"frame", {{"x", 160}, {"y", 180.5}, {"width", 92}, {"height", 104}}},
                {"launchCount", 3},
                {"focusClicks", 7},
                {"lastSeenRunning", true}};
}

AppAssignment decoded(const json& object) {
    const auto result = decodeAssignment(object.dump());
    EXPECT_TRUE(result.ok()) << result.error();
    return result ? result.value() : AppAssignment{};
}

std::string failureOf(const json& object) {
    const auto result = decodeAssignment(object.dump());
    EXPECT_FALSE(result.ok()) << object.dump();
    return result.error();
}

TEST(AssignmentDecoding, ReadsEveryMember) {
    const auto a = decoded(stored());
    EXPECT_EQ(a.id.string(), kId);
    EXPECT_EQ(a.bundleIdentifier, "com.tinyspeck.slackmacgap");
    EXPECT_EQ(a.appName, "Slack");
    EXPECT_EQ(a.petKind, PetKind::robotV1);
    EXPECT_EQ(a.category, AppCategory::chat);
    EXPECT_EQ(a.frame, CodableRect(160, 180.5, 92, 104));
    EXPECT_EQ(a.launchCount, 3);
    EXPECT_EQ(a.focusClicks, 7);
    EXPECT_TRUE(a.lastSeenRunning);
}

TEST(AssignmentDecoding, AbsentOrNullOptionalMembersTakeDefaults) {
    for (const bool asNull : {false, true}) {
        auto object = stored();
        for (const char* key : {"launchCount", "focusClicks", "lastSeenRunning"}) {
            if (asNull) object[key] = nullptr; else object.erase(key);
        }
        object["unknown"] = {{"nested", true}};  // ignored
        const auto a = decoded(object);
        EXPECT_EQ(a.launchCount, 0);
        EXPECT_EQ(a.focusClicks, 0);
        EXPECT_FALSE(a.lastSeenRunning);
    }
}

TEST(AssignmentDecoding, AbsentOrNullCategoryIsInferredFromTheDecodedNames) {
    auto object = stored();
    object.erase("category");
    object["bundleIdentifier"] = "com.apple.Music";
    EXPECT_EQ(decoded(object).category, AppCategory::music);
    object["category"] = nullptr;
    object["bundleIdentifier"] = "com.apple.ical";
    object["appName"] = "Cal";
    EXPECT_EQ(decoded(object).category, AppCategory::calendar);
    object["bundleIdentifier"] = "org.example.x";
    object["appName"] = "iCal Sync";
    EXPECT_EQ(decoded(object).category, AppCategory::other);
}

TEST(AssignmentDecoding, RequiredMembersAbsentOrNullFail) {
    for (const char* key : {"id", "bundleIdentifier", "appName", "petKind", "frame"}) {
        auto absent = stored();
        absent.erase(key);
        EXPECT_NE(failureOf(absent).find(key), std::string::npos);
        auto null = stored();
        null[key] = nullptr;
        failureOf(null);
    }
    for (const char* key : {"x", "y", "width", "height"}) {
        auto object = stored();
        object["frame"][key] = nullptr;
        EXPECT_NE(failureOf(object).find(std::string("frame.") + key), std::string::npos);
    }
}

TEST(AssignmentDecoding, BadValuesFail) {
    const std::pair<const char*, json> bad[] = {
        {"id", "not-a-uuid"}, {"id", 42},          {"petKind", "robot v1"},       {"category", "chat"},
        {"appName", 5},       {"frame", {1, 2}},   {"launchCount", 1.5},          {"launchCount", "3"},
        {"launchCount", 1e30}, {"focusClicks", 18446744073709551615u}, {"lastSeenRunning", 1},
    };
    for (const auto& [key, value] : bad) {
        auto object = stored();
        object[key] = value;
        failureOf(object);
    }
    auto frameText = stored();
    frameText["frame"]["width"] = "92";
    failureOf(frameText);

    auto integralReal = stored();  // 4.0 is an integer written as a real
    integralReal["launchCount"] = 4.0;
    EXPECT_EQ(decoded(integralReal).launchCount, 4);
}

TEST(AssignmentDecoding, AFrameNumberBeyondDoubleRangeFailsLikeOtherUndecodableValues) {
    const std::string text = stored().dump();
    const std::string frame = R"("x":160)";
    for (const char* huge : {"1e400", "-1e400"}) {
        std::string edited = text;
        edited.replace(edited.find(frame), frame.size(), std::string(R"("x":)") + huge);
        const auto result = decodeAssignment(edited);
        ASSERT_FALSE(result.ok()) << huge;
        EXPECT_NE(result.error().find("frame.x"), std::string::npos) << result.error();
    }
}

TEST(AssignmentDecoding, AFrameNoScreenCanShowFailsAndIsNeverWritten) {
    const struct {
        const char* side;
        double value;
    } unshowable[] = {{"width", 1e300}, {"height", 16384.5}, {"width", 0.5}, {"height", 0}, {"width", -92}};
    for (const auto& [side, value] : unshowable) {
        auto object = stored();
        object["frame"][side] = value;
        EXPECT_NE(failureOf(object).find(std::string("frame.") + side), std::string::npos) << side << " " << value;
        AppAssignment a = decoded(stored());
        (std::string(side) == "width" ? a.frame.width : a.frame.height) = value;
        EXPECT_FALSE(encodeAssignments({a}).ok()) << side << " " << value;
    }
    auto edges = stored();
    edges["frame"]["width"] = 1;
    edges["frame"]["height"] = 16384;
    EXPECT_EQ(decoded(edges).frame, CodableRect(160, 180.5, 1, 16384));
}

TEST(AssignmentListDecoding, OnlyTextThatIsNotAJsonArrayFailsTheWholeList) {
    for (const char* text : {"", "{}", "null", "[", "garbage"}) {
        EXPECT_FALSE(decodeAssignments(text).ok()) << text;
    }
    for (const char* text : {"[]", "[null]", "[1e400]"}) {
        EXPECT_TRUE(decodeAssignments(text).ok()) << text;
    }
}

TEST(AssignmentEncoding, WritesAllNineMembersAndRoundTrips) {
    auto object = stored();
    object.erase("category");
    object.erase("lastSeenRunning");
    object["bundleIdentifier"] = "org.example.code";
    object["appName"] = "Notes";
    const auto a = decoded(object);

    const auto encoded = encodeAssignment(a);
    ASSERT_TRUE(encoded.ok()) << encoded.error();
    const auto written = json::parse(encoded.value());
    EXPECT_EQ(written.size(), 9u);
    EXPECT_EQ(written["category"], "Notes");
    EXPECT_EQ(written["lastSeenRunning"], false);
    EXPECT_EQ(written["id"], kId);
    EXPECT_TRUE(written["launchCount"].is_number_integer());
    EXPECT_EQ(decoded(written), a);

    AppAssignment extreme = a;
    extreme.id = platform::Uuid::random();
    extreme.launchCount = INT64_MAX;
    extreme.focusClicks = INT64_MIN;
    const auto list = encodeAssignments({a, extreme});
    ASSERT_TRUE(list.ok());
    const auto back = decodeAssignments(list.value());
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back.value().assignments, (std::vector<AppAssignment>{a, extreme}));
}

TEST(AssignmentEncoding, NonFiniteFrameFailsInsteadOfWritingUnreadableData) {
    AppAssignment a = decoded(stored());
    a.frame.y = std::nan("");
    const auto list = encodeAssignments({decoded(stored()), a});
    ASSERT_FALSE(list.ok());
    EXPECT_NE(list.error().find("[1].frame.y"), std::string::npos) << list.error();
    a.frame.y = 0;
    a.frame.width = INFINITY;
    EXPECT_FALSE(encodeAssignment(a).ok());
}

TEST(AssignmentEquality, EveryFieldCountsAndNaNNeverEquals) {
    const AppAssignment a = decoded(stored());
    AppAssignment b = a;
    b.id = platform::Uuid::random();
    EXPECT_NE(a, b);
    AppAssignment nanFrame = a;
    nanFrame.frame.x = std::nan("");
    EXPECT_FALSE(nanFrame == nanFrame);
    EXPECT_EQ(CodableRect(platform::Rect(10, 20, -30, -40)), CodableRect(10, 20, 30, 40));
}

}  // namespace
}  // namespace Mossbridge
