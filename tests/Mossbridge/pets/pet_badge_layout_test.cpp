#include "Mossbridge/pets/PetBadgeLayout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Mossbridge {
namespace {

AppStatus badged(std::string text) {
    AppStatus status;
    status.badgeText = std::move(text);
    return status;
}

const platform::Rect badge26{33, 2, 26, 26};

TEST(AppBadge, DiameterIsClampedBetweenSixteenAndFortyEight) {
    EXPECT_DOUBLE_EQ(appBadgeDiameter(0.1), 16);
    EXPECT_DOUBLE_EQ(appBadgeDiameter(1.0), 26);
    EXPECT_DOUBLE_EQ(appBadgeDiameter(3.0), 48);
    EXPECT_EQ(appBadgeRect({0, 0, 92, 104}, 1.0), (platform::Rect{33, 2, 26, 26}));
    EXPECT_EQ(appIconRect({0, 2, 16, 16}), (platform::Rect{3, 5, 10, 10}));  // inset never below 3
    EXPECT_DOUBLE_EQ(appLetterFont({0, 0, 16, 16}).pointSize, 10);
}

TEST(AppBadge, InitialIsTheFirstCharacterUpperCased) {
    EXPECT_EQ(appInitial("notes"), "N");
    EXPECT_EQ(appInitial("éclair"), "É");
    EXPECT_EQ(appInitial(""), "");
}

TEST(StatusBadge, AbsentWithoutTextOrWithBadgesOff) {
    EXPECT_FALSE(statusBadgeLayout(badge26, true, AppStatus{}));
    EXPECT_FALSE(statusBadgeLayout(badge26, true, badged("")));
    EXPECT_FALSE(statusBadgeLayout(badge26, false, badged("3")));
}

TEST(StatusBadge, FourOrMoreCharactersReadNinetyNinePlus) {
    EXPECT_EQ(statusBadgeLayout(badge26, true, badged("1234"))->text, "99+");
    EXPECT_EQ(statusBadgeLayout(badge26, true, badged("123"))->text, "123");
    EXPECT_EQ(statusBadgeLayout(badge26, true, badged("•••"))->text, "•••");  // three characters, more bytes
}

TEST(StatusBadge, OneCharacterGetsTheNarrowInsetOthersTheWide) {
    // Badge height 26: pill height clamp(13, 16, 20) = 16, font clamp(9.92, 10, 12) = 10.
    const auto one = *statusBadgeLayout(badge26, true, badged("7"));
    EXPECT_DOUBLE_EQ(one.pillRect.height(), 16);
    EXPECT_DOUBLE_EQ(one.font.pointSize, 10);
    EXPECT_EQ(one.font.weight, platform::FontWeight::bold);
    EXPECT_DOUBLE_EQ(one.pillRect.width(), std::ceil(std::max(16.0, one.textSize.width + 2 * 16 * 0.28)));
    const auto two = *statusBadgeLayout(badge26, true, badged("77"));
    EXPECT_DOUBLE_EQ(two.pillRect.width(), std::ceil(std::max(16.0, two.textSize.width + 2 * 16 * 0.42)));
    EXPECT_DOUBLE_EQ(two.cornerRadius, 8);
}

TEST(StatusBadge, PillSticksOutOfTheTopRightOnWholePoints) {
    const auto layout = *statusBadgeLayout(badge26, true, badged("99+"));
    const double w = layout.pillRect.width();
    EXPECT_DOUBLE_EQ(layout.pillRect.minX(), std::round(59 - 0.78 * w));
    EXPECT_DOUBLE_EQ(layout.pillRect.minY(), std::round(28 - 0.78 * 16));
    EXPECT_EQ(layout.textRect.minX(), layout.pillRect.minX());
    EXPECT_EQ(layout.textRect.width(), w);
    EXPECT_DOUBLE_EQ(layout.textRect.height(), std::ceil(layout.textSize.height));
    EXPECT_DOUBLE_EQ(layout.textRect.minY(), std::round(layout.pillRect.midY() - layout.textRect.height() / 2));
}

TEST(StatusBadge, PillHeightAndFontAreClampedForLargeBadges) {
    const auto large = *statusBadgeLayout({0, 2, 48, 48}, true, badged("5"));
    EXPECT_DOUBLE_EQ(large.pillRect.height(), 20);
    EXPECT_DOUBLE_EQ(large.font.pointSize, 12);
}

TEST(WindowDots, FiveDotsAtMostAndTheRestAsText) {
    EXPECT_FALSE(windowDotsLayout({0, 0, 92, 104}, 0));
    EXPECT_FALSE(windowDotsLayout({0, 0, 92, 104}, -1));
    const auto seven = *windowDotsLayout({0, 0, 92, 104}, 7);
    ASSERT_EQ(seven.dots.size(), 5u);
    EXPECT_EQ(seven.overflowText, "+2");
    // Row width 5 x 5 + 4 x 4 = 41, centred on x = 46.
    EXPECT_EQ(seven.background, (platform::Rect{20.5, 26, 51, 13}));
    EXPECT_EQ(seven.dots[4], (platform::Rect{61.5, 30, 5, 5}));
    EXPECT_EQ(seven.overflowRect, (platform::Rect{70.5, 27, 28, 12}));
    const auto one = *windowDotsLayout({0, 0, 92, 104}, 1);
    EXPECT_EQ(one.dots.size(), 1u);
    EXPECT_FALSE(one.overflowText);
}

TEST(ResizeGrip, ThreeParallelStrokesInTheCorner) {
    const auto lines = resizeGripLines({0, 0, 92, 104});
    EXPECT_EQ(lines[0].first, (platform::Point{78, 5}));
    EXPECT_EQ(lines[0].second, (platform::Point{87, 14}));
    EXPECT_EQ(lines[2].first, (platform::Point{86, 5}));
    EXPECT_EQ(lines[2].second, (platform::Point{87, 6}));
}

}  // namespace
}  // namespace Mossbridge
