#include "Mossbridge/pets/VectorPetDrawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "PetViewFixture.h"
#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/RecordingCanvas.h"
#include "platform/drawing/SystemColors.h"

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

// The shadow, the badges, the name and the window dots are drawn as pictures
// the canvas may keep between frames, and so are body and face, moving. What they draw is checked above; here, that the
// keys change exactly when that drawing does, and that every shape stays
// inside its picture's extent (what lies outside would be lost).

std::vector<platform::RecordedPicture> pictures(const VectorPetAppearance& appearance) {
    platform::RecordingCanvas canvas;
    drawVectorPet(canvas, appearance);
    for (const auto& picture : canvas.pictures()) {
        for (std::size_t i = picture.firstCommand; i < picture.endCommand; ++i) {
            const auto& c = canvas.commands()[i];
            const platform::Rect box = c.kind == Kind::text || c.kind == Kind::bitmap ? c.rect : c.path.boundingBox();
            EXPECT_GE(box.minX(), picture.extent.minX()) << i;
            EXPECT_GE(box.minY(), picture.extent.minY()) << i;
            EXPECT_LE(box.maxY(), picture.extent.maxY()) << i;
            // Sideways a picture spans the view: text may run past it, and
            // the view cuts it there anyway.
            EXPECT_LE(picture.extent.minX(), appearance.bounds.minX());
            EXPECT_GE(picture.extent.maxX(), appearance.bounds.maxX());
        }
    }
    return canvas.pictures();
}

// The pictures that stay in place (not the body's, which moves).
std::vector<platform::PictureKey> keys(const VectorPetAppearance& appearance) {
    std::vector<platform::PictureKey> result;
    for (const auto& picture : pictures(appearance))
        if (!picture.key.wholePixelShifts) result.push_back(picture.key);
    return result;
}

TEST(VectorPetPictures, ShadowBadgeNameAndDotsArePicturesAroundTheMovingBody) {
    AppStatus status;
    status.badgeText = "12";
    auto busy = pet(PetKind::cat, &status);
    busy.windowCount = 7;
    platform::RecordingCanvas canvas;
    drawVectorPet(canvas, busy);
    ASSERT_EQ(canvas.pictures().size(), 5u);
    const auto& commands = canvas.commands();
    const auto& shadow = canvas.pictures()[0];
    EXPECT_EQ(shadow.firstCommand, 0u);
    EXPECT_EQ(shadow.endCommand, 1u);
    const auto& body = canvas.pictures()[1];  // body, two ears, the face
    EXPECT_EQ(body.firstCommand, 1u);
    EXPECT_EQ(body.endCommand, 1u + 1u + 2u + 3u);
    EXPECT_TRUE(body.key.wholePixelShifts);
    const auto& badge = canvas.pictures()[2];
    EXPECT_EQ(commands[badge.firstCommand].path.elements()[0].rect, (platform::Rect{33, 2, 26, 26}));
    EXPECT_EQ(commands[badge.endCommand - 1].text, "12");
    const auto& name = canvas.pictures()[3];
    EXPECT_EQ(name.endCommand - name.firstCommand, 1u);
    EXPECT_EQ(commands[name.firstCommand].text, "Notes");
    const auto& dots = canvas.pictures()[4];
    EXPECT_EQ(commands[dots.endCommand - 1].text, "+2");
    EXPECT_EQ(badge.firstCommand, body.endCommand);
}

TEST(VectorPetPictures, BodyAndFaceAreOnePictureThatMovesWithTheBob) {
    auto bodyKey = [](const VectorPetAppearance& appearance) {
        for (const auto& picture : pictures(appearance))
            if (picture.key.wholePixelShifts) return std::optional(picture.key);
        return std::optional<platform::PictureKey>();
    };
    auto resting = pet(PetKind::blob);
    auto risen = resting;
    risen.animationTick = 0.3;
    ASSERT_TRUE(bodyKey(resting));
    EXPECT_EQ(bodyKey(risen), bodyKey(resting));  // the same drawing, moved
    const double minY = vectorBodyRect(risen.bounds, 0.3, false).minY();
    EXPECT_GT(minY, 40);
    EXPECT_EQ(minY * 32, std::round(minY * 32));  // on the 1/32-point grid
    EXPECT_EQ(drawn(risen)[1].path.elements()[0].rect.minY(), minY);

    auto focused = resting;
    focused.isFocused = true;
    focused.animationTick = 0.5;  // no wink
    auto winking = focused;
    winking.animationTick = 0;
    auto cat = resting;
    cat.kind = PetKind::cat;
    for (const auto* other : {&focused, &winking, &cat}) EXPECT_NE(bodyKey(*other), bodyKey(resting));
    EXPECT_NE(bodyKey(winking), bodyKey(focused));
    // The ghost's hem clears what lies behind: cut in place between its body
    // and its face, each a moving picture, and so is the hem.
    auto ghost = resting;
    ghost.kind = PetKind::ghost;
    platform::RecordingCanvas canvas;
    drawVectorPet(canvas, ghost);
    ASSERT_GE(canvas.pictures().size(), 4u);
    const auto& body = canvas.pictures()[1];
    const auto& hem = canvas.pictures()[2];
    const auto& face = canvas.pictures()[3];
    EXPECT_TRUE(body.key.wholePixelShifts && hem.key.wholePixelShifts && face.key.wholePixelShifts);
    EXPECT_EQ(hem.firstCommand, body.endCommand);
    EXPECT_EQ(hem.endCommand, hem.firstCommand + 3);
    EXPECT_EQ(face.firstCommand, hem.endCommand);
    for (std::size_t i = hem.firstCommand; i < hem.endCommand; ++i) {
        EXPECT_EQ(canvas.commands()[i].blendMode, platform::BlendMode::clear) << i;
        EXPECT_EQ(canvas.commands()[i].color.alpha, 1) << i;  // opaque: a kept image erases by its alpha
    }
}

TEST(VectorPetPictures, KeysIgnoreTheMotionAndFollowWhatIsDrawn) {
    AppStatus status;
    status.badgeText = "3";
    auto base = pet(PetKind::blob, &status);
    base.windowCount = 2;
    const auto reference = keys(base);
    ASSERT_EQ(reference.size(), 4u);  // shadow, badge, name, dots

    auto moved = base;
    moved.animationTick = 1.3;
    moved.isFocused = true;
    moved.kind = PetKind::ghost;
    EXPECT_EQ(keys(moved), reference);

    auto renamed = base;
    renamed.appName = "Mail";
    EXPECT_NE(keys(renamed)[1], reference[1]);  // another initial
    EXPECT_NE(keys(renamed)[2], reference[2]);
    EXPECT_EQ(keys(renamed)[3], reference[3]);
    EXPECT_EQ(keys(renamed)[0], reference[0]);  // the shadow follows the width alone

    AppStatus more;
    more.badgeText = "4";
    auto recounted = base;
    recounted.status = &more;
    EXPECT_NE(keys(recounted)[1], reference[1]);
    EXPECT_EQ(keys(recounted)[2], reference[2]);

    auto quiet = base;
    quiet.displayBadges = false;
    EXPECT_NE(keys(quiet)[1], reference[1]);

    auto larger = base;
    larger.appIconSizeScale = 1.5;
    EXPECT_NE(keys(larger)[1], reference[1]);

    auto wider = base;
    wider.bounds = {0, 0, 120, 104};
    const auto widerKeys = keys(wider);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NE(widerKeys[i], reference[i]) << i;

    auto moreWindows = base;
    moreWindows.windowCount = 3;
    EXPECT_NE(keys(moreWindows)[3], reference[3]);
    EXPECT_EQ(keys(moreWindows)[1], reference[1]);

    // An icon is the same picture only while it is the same bitmap.
    auto withIcon = base;
    withIcon.appIcon = std::make_shared<platform::Image>(platform::Bitmap::make(1, 1, {0xff00ff00}));
    auto otherIcon = base;
    otherIcon.appIcon = std::make_shared<platform::Image>(platform::Bitmap::make(1, 1, {0xff00ff00}));
    EXPECT_EQ(keys(withIcon)[1], keys(withIcon)[1]);
    EXPECT_NE(keys(withIcon)[1], keys(otherIcon)[1]);
    EXPECT_NE(keys(withIcon)[1], reference[1]);
}

// Draws into a CairoCanvas but every picture directly, as the pass did
// before pictures could be kept.
class DirectCanvas final : public platform::Canvas {
public:
    explicit DirectCanvas(platform::CairoCanvas& target) : target_(target) {}
    void save() override { target_.save(); }
    void restore() override { target_.restore(); }
    void setFillColor(const platform::Color& c) override { target_.setFillColor(c); }
    void setStrokeColor(const platform::Color& c) override { target_.setStrokeColor(c); }
    void setLineWidth(double width) override { target_.setLineWidth(width); }
    void setBlendMode(platform::BlendMode mode) override { target_.setBlendMode(mode); }
    void setAlpha(double alpha) override { target_.setAlpha(alpha); }
    void translate(double dx, double dy) override { target_.translate(dx, dy); }
    void clipToRect(const platform::Rect& rect) override { target_.clipToRect(rect); }
    void fillPath(const platform::Path& path, platform::FillRule rule) override { target_.fillPath(path, rule); }
    void strokePath(const platform::Path& path) override { target_.strokePath(path); }
    void drawBitmap(const platform::BitmapRef& bitmap, const platform::Rect& destination,
                    platform::Interpolation interpolation) override {
        target_.drawBitmap(bitmap, destination, interpolation);
    }
    void drawText(std::string_view text, const platform::TextStyle& style, const platform::Rect& box) override {
        target_.drawText(text, style, box);
    }

private:
    platform::CairoCanvas& target_;
};

platform::BitmapRef rendered(const VectorPetAppearance& appearance, bool direct) {
    platform::CairoCanvas canvas(appearance.bounds.size, 2);
    canvas.clipToRect(appearance.bounds);
    if (direct) {
        DirectCanvas through(canvas);
        drawVectorPet(through, appearance);
    } else {
        drawVectorPet(canvas, appearance);
    }
    return canvas.finish();
}

int largestDifference(const platform::Bitmap& a, const platform::Bitmap& b) {
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int shift : {0, 8, 16, 24})
                largest = std::max(largest, std::abs(int(a.pixel(x, y) >> shift & 0xff) -
                                                     int(b.pixel(x, y) >> shift & 0xff)));
    return largest;
}

TEST(VectorPetPictures, KeptPicturesLookLikeTheDrawingTheyStandFor) {
    platform::CairoCanvas::clearPictureCache();
    AppStatus status;
    status.badgeText = "12345";
    for (PetKind kind : {PetKind::blob, PetKind::cat, PetKind::ghost, PetKind::sprout}) {
        for (int variant = 0; variant < 3; ++variant) {
            auto appearance = pet(kind, variant == 1 ? &status : nullptr);
            appearance.isFocused = variant != 2;
            appearance.isHovering = variant == 2;
            appearance.windowCount = variant * 4;
            appearance.animationTick = 0.37 * variant;
            if (variant == 2) appearance.appName = "A Very Long Application Name Indeed";
            const auto direct = rendered(appearance, true);
            const auto first = rendered(appearance, false);  // pictures made
            appearance.animationTick += 0.1;                 // two ticks on: the body has moved
            const auto nextDirect = rendered(appearance, true);
            const auto next = rendered(appearance, false);   // pictures painted again
            // Within rounding: a picture's few layers are composited onto
            // its image and the image onto the pet, one more rounding each.
            EXPECT_LE(largestDifference(*direct, *first), 2) << rawValue(kind) << " " << variant;
            EXPECT_LE(largestDifference(*nextDirect, *next), 2) << rawValue(kind) << " " << variant;
            EXPECT_GT(largestDifference(*direct, *nextDirect), 20);  // the frames do differ
        }
    }
    const auto stats = platform::CairoCanvas::pictureCacheStats();
    EXPECT_GE(stats.hits, 12u * 2);  // the second frames reused badge and name
    platform::CairoCanvas::clearPictureCache();
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
