#include "Mossbridge/VectorPetDrawing.h"

#include <gtest/gtest.h>

#include <cmath>

#include "PetViewFixture.h"
#include "platform/CairoCanvas.h"
#include "platform/RecordingCanvas.h"
#include "platform/SystemColors.h"

namespace Mossbridge {
namespace {

using Kind = platform::CanvasCommand::Kind;
using platform::CanvasCommand;

VectorPetAppearance pet(PetKind kind, const AppStatus* status = nullptr) {
    VectorPetAppearance appearance;
    appearance.kind = kind;
    appearance.appName = "Notes";
    appearance.bounds = {0, 0, 92, 104};
    appearance.status = status;
    return appearance;
}

std::vector<CanvasCommand> drawn(const VectorPetAppearance& appearance) {
    platform::RecordingCanvas canvas;
    drawVectorPet(canvas, appearance);
    EXPECT_EQ(canvas.saveDepth(), 0u);
    return canvas.commands();
}

std::vector<Kind> kinds(const std::vector<CanvasCommand>& commands) {
    std::vector<Kind> result;
    for (const auto& c : commands) result.push_back(c.kind);
    return result;
}

TEST(VectorPetDrawing, ABlobIsShadowBodyFaceBadgeAndName) {
    const auto commands = drawn(pet(PetKind::blob));
    EXPECT_EQ(kinds(commands), (std::vector<Kind>{Kind::fill, Kind::fill, Kind::fill, Kind::fill, Kind::stroke,
                                                  Kind::fill, Kind::text, Kind::text}));
    EXPECT_EQ(commands[0].path.elements()[0].rect, (platform::Rect{22, 30, 48, 10}));  // shadow
    const auto& body = commands[1];
    EXPECT_EQ(body.color, accentColor(PetKind::blob));
    EXPECT_EQ(body.path.elements()[0].kind, platform::Path::ElementKind::roundedRect);
    EXPECT_EQ(body.path.elements()[0].rect, (platform::Rect{16, 40, 60, 52}));
    EXPECT_DOUBLE_EQ(body.path.elements()[0].radiusX, 24);
    EXPECT_EQ(commands[6].text, "N");
    EXPECT_EQ(commands[7].text, "Notes");
}

TEST(VectorPetDrawing, ACatHasTwoEarsReachingSixteenPointsAboveTheBody) {
    const auto commands = drawn(pet(PetKind::cat));
    ASSERT_GE(commands.size(), 4u);
    for (int ear : {2, 3}) {
        const auto box = commands[ear].path.boundingBox();
        EXPECT_DOUBLE_EQ(box.maxY(), 92 + 16);
        EXPECT_EQ(commands[ear].color, accentColor(PetKind::cat));
        EXPECT_EQ(commands[ear].path.elements().back().kind, platform::Path::ElementKind::closeSubpath);
    }
    EXPECT_DOUBLE_EQ(commands[2].path.boundingBox().minX(), 16 + 10);
    EXPECT_DOUBLE_EQ(commands[3].path.boundingBox().maxX(), 76 - 10);
}

TEST(VectorPetDrawing, AGhostCutsItsHemWithTheClearBlendModeThenGoesBack) {
    const auto commands = drawn(pet(PetKind::ghost));
    std::vector<platform::Rect> holes;
    for (const auto& c : commands)
        if (c.blendMode == platform::BlendMode::clear) holes.push_back(c.path.elements()[0].rect);
    EXPECT_EQ(holes, (std::vector<platform::Rect>{{28, 33, 16, 16}, {45, 33, 16, 16}, {62, 33, 16, 16}}));
    EXPECT_EQ(commands[5].blendMode, platform::BlendMode::normal);  // the face after the hem
}

TEST(VectorPetDrawing, ASproutGrowsAStemAndTwoLeaves) {
    const auto commands = drawn(pet(PetKind::sprout));
    const auto& stem = commands[2];
    EXPECT_EQ(stem.kind, Kind::stroke);
    EXPECT_EQ(stem.color, (platform::Color{0.15, 0.44, 0.2, 1.0}));
    EXPECT_DOUBLE_EQ(stem.lineWidth, 4);
    EXPECT_EQ(stem.path.boundingBox(), (platform::Rect{46, 88, 0, 22}));
    EXPECT_EQ(commands[3].path.elements().size(), 2u);
    EXPECT_EQ(commands[3].color, (platform::Color{0.58, 0.88, 0.42, 1.0}));
}

TEST(VectorPetDrawing, FocusAddsARingAndBobsTwiceAsFar) {
    auto focused = pet(PetKind::blob);
    focused.isFocused = true;
    focused.animationTick = std::asin(1.0);  // sin = 1; floor(tick x 3) = 4: no wink
    const auto commands = drawn(focused);
    EXPECT_DOUBLE_EQ(commands[1].path.elements()[0].rect.minY(), 44);
    const auto& ring = commands[2];
    EXPECT_EQ(ring.kind, Kind::stroke);
    EXPECT_EQ(ring.path.elements()[0].rect, (platform::Rect{12, 40, 68, 60}));
    EXPECT_DOUBLE_EQ(ring.path.elements()[0].radiusX, 28);
    EXPECT_EQ(ring.color, platform::SystemColors::withAlpha(platform::SystemColors::white, 0.95));

    auto unfocused = focused;
    unfocused.isFocused = false;
    const auto plain = drawn(unfocused);
    EXPECT_DOUBLE_EQ(plain[1].path.elements()[0].rect.minY(), 42);
    EXPECT_EQ(plain[2].kind, Kind::fill);  // no ring
}

TEST(VectorPetDrawing, WinkRuleNeedsFocusAndAMultipleOfTwenty) {
    EXPECT_TRUE(isVectorPetWinking(0, true));
    EXPECT_FALSE(isVectorPetWinking(0, false));
    EXPECT_FALSE(isVectorPetWinking(0.5, true));            // floor(1.5) = 1
    EXPECT_TRUE(isVectorPetWinking(20.0 / 3 + 0.01, true));  // floor(20.03) = 20
    EXPECT_FALSE(isVectorPetWinking(7.0, true));            // 21
    EXPECT_FALSE(isVectorPetWinking(NAN, true));

    auto winking = pet(PetKind::blob);
    winking.isFocused = true;
    const auto commands = drawn(winking);
    const auto& leftEye = commands[3];  // after shadow, body, ring
    EXPECT_EQ(leftEye.kind, Kind::stroke);
    EXPECT_DOUBLE_EQ(leftEye.lineWidth, 3);
    EXPECT_EQ(leftEye.path.boundingBox(), (platform::Rect{26, 77, 10, 0}));
    EXPECT_EQ(commands[4].path.elements()[0].rect, (platform::Rect{60, 74, 8, 10}));  // the right eye stays open
}

TEST(VectorPetDrawing, StatusBadgeOnlyWhenBadgesAreShown) {
    AppStatus status;
    status.badgeText = "3";
    auto shown = pet(PetKind::blob, &status);
    const auto commands = drawn(shown);
    const auto red = std::find_if(commands.begin(), commands.end(),
                                  [](const auto& c) { return c.color == platform::SystemColors::red; });
    ASSERT_NE(red, commands.end());
    const auto& pill = red->path.elements()[0];
    const auto& border = (red + 1)->path.elements()[0];
    EXPECT_DOUBLE_EQ(border.rect.minX(), pill.rect.minX() + 0.625);
    EXPECT_DOUBLE_EQ(border.radiusX, pill.radiusX - 0.625);
    EXPECT_DOUBLE_EQ((red + 1)->lineWidth, 1.25);
    EXPECT_EQ((red + 2)->text, "3");

    shown.displayBadges = false;
    for (const auto& c : drawn(shown)) EXPECT_NE(c.color, platform::SystemColors::red);
}

TEST(VectorPetDrawing, NameLabelIsOutlinedCentredAndTruncated) {
    const auto commands = drawn(pet(PetKind::blob));
    const auto& name = commands.back();
    EXPECT_EQ(name.rect, (platform::Rect{4, 88, 84, 14}));
    EXPECT_TRUE(name.textStyle.truncateTail);
    EXPECT_EQ(name.textStyle.alignment, platform::TextAlignment::center);
    EXPECT_DOUBLE_EQ(name.textStyle.strokeWidth, -2);
    EXPECT_EQ(name.textStyle.font, platform::Font::system(10, platform::FontWeight::semibold));
}

TEST(VectorPetDrawing, WindowDotsAndGripFollowCountAndHover) {
    auto busy = pet(PetKind::blob);
    busy.windowCount = 7;
    busy.isHovering = true;
    const auto commands = drawn(busy);
    const auto n = commands.size();
    EXPECT_EQ(commands[n - 4].text, "+2");
    for (std::size_t i = n - 3; i < n; ++i) {
        EXPECT_EQ(commands[i].kind, Kind::stroke);
        EXPECT_DOUBLE_EQ(commands[i].lineWidth, 1.5);
    }
    EXPECT_EQ(n, drawn(pet(PetKind::blob)).size() + 1 + 5 + 1 + 3);
}

class PetViewDrawing : public testing::PetViewTest {};

TEST_F(PetViewDrawing, SpritePetsDrawNothingInTheDrawPass) {
    show(PetKind::robotV1);
    platform::RecordingCanvas canvas;
    view->draw(canvas, view->bounds());
    EXPECT_TRUE(canvas.commands().empty());
}

TEST_F(PetViewDrawing, TheGhostsHemShowsWhatIsBehind) {
    show(PetKind::ghost);
    const auto bitmap = panel->render();  // 2 pixels per point, rows from the top
    auto alphaAt = [&](double x, double y) {
        return bitmap->pixel(int(x * 2), int((104 - y) * 2)) >> 24;
    };
    EXPECT_EQ(alphaAt(16 + 12 + 8, 40 + 1), 0u);  // inside the first hole, on the body
    EXPECT_EQ(alphaAt(46, 70), 255u);              // the body itself
}

}  // namespace
}  // namespace Mossbridge
