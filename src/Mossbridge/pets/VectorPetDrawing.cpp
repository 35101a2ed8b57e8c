#include "Mossbridge/pets/VectorPetDrawing.h"

#include <cmath>
#include <functional>

#include "Mossbridge/pets/PetBadgeLayout.h"
#include "platform/drawing/SystemColors.h"

namespace Mossbridge {

namespace {

namespace colors = platform::SystemColors;
using platform::Path;
using platform::Point;
using platform::Rect;

constexpr double bodyCornerRadius = 24;
constexpr double bodyHeight = 52;

Rect grown(const Rect& r, double by) { return {r.minX() - by, r.minY() - by, r.width() + 2 * by, r.height() + 2 * by}; }

// Text drawn with its bottom-left corner at `origin`.
void drawTextAt(platform::Canvas& canvas, const std::string& text, const platform::Font& font, platform::Color color,
                Point origin) {
    platform::TextStyle style;
    style.font = font;
    style.foreground = color;
    const platform::Size size = platform::measureText(text, font);
    canvas.drawText(text, style, {origin.x, origin.y, size.width, size.height});
}

void appendToKey(std::string& key, const Rect& r) {
    for (double v : {r.minX(), r.minY(), r.width(), r.height()}) platform::appendToKey(key, v);
}

void appendToKey(std::string& key, const platform::Color& c) {
    for (double v : {c.red, c.green, c.blue, c.alpha}) platform::appendToKey(key, v);
}

void appendToKey(std::string& key, const platform::TextStyle& style) {
    platform::appendToKey(key, style.font.pointSize);
    platform::appendToKey(key, double(style.font.weight));
    appendToKey(key, style.foreground);
    platform::appendToKey(key, double(style.strokeColor.has_value()));
    if (style.strokeColor) appendToKey(key, *style.strokeColor);
    platform::appendToKey(key, style.strokeWidth);
    platform::appendToKey(key, double(style.alignment));
    platform::appendToKey(key, double(style.truncateTail));
}

// The badges, the name and the window dots stay the same from frame to frame
// while the body bobs beneath them, so each is drawn as a picture that the
// canvas can keep. Its key holds everything the step's drawing reads.
platform::PictureKey pictureKey(std::string_view step) {
    platform::PictureKey key;
    platform::appendToKey(key.description, step);
    return key;
}

// The application's name: 10-point semibold white, outlined in black.
platform::TextStyle nameLabelStyle() {
    platform::TextStyle style;
    style.font = platform::Font::system(10, platform::FontWeight::semibold);
    style.foreground = colors::white;
    style.alignment = platform::TextAlignment::center;
    style.truncateTail = true;
    style.strokeColor = colors::withAlpha(colors::black, 0.45);
    style.strokeWidth = -2;  // outlined and filled
    return style;
}

void drawAppBadge(platform::Canvas& canvas, const Rect& badge, const VectorPetAppearance& pet) {
    canvas.save();
    canvas.setFillColor(colors::withAlpha(colors::windowBackground, 0.92));
    canvas.fillPath(Path::ellipse(badge));
    if (pet.appIcon && pet.appIcon->bitmap()) {
        canvas.drawBitmap(pet.appIcon->bitmap(), appIconRect(badge), platform::Interpolation::high);
    } else {
        const std::string letter = appInitial(pet.appName);
        const platform::Font font = appLetterFont(badge);
        const platform::Size size = platform::measureText(letter, font);
        drawTextAt(canvas, letter, font, colors::label,
                   {badge.midX() - size.width / 2, badge.midY() - size.height / 2});
    }
    canvas.restore();
    if (pet.displayBadges) drawVectorStatusBadge(canvas, badge, pet);
}

void drawWindowDots(platform::Canvas& canvas, const WindowDotsLayout& layout) {
    canvas.save();
    canvas.setFillColor(colors::withAlpha(colors::black, 0.24));
    canvas.fillPath(Path::ellipse(layout.background));
    canvas.setFillColor(colors::withAlpha(colors::white, 0.92));
    for (const Rect& dot : layout.dots) canvas.fillPath(Path::ellipse(dot));
    if (layout.overflowText)
        drawTextAt(canvas, *layout.overflowText, platform::Font::boldSystem(8), colors::white,
                   layout.overflowRect.origin);
    canvas.restore();
}

// The body in its accent colour, with the ring when focused (state left set).
void drawBodyShape(platform::Canvas& canvas, const Rect& r, const VectorPetAppearance& pet) {
    canvas.setFillColor(accentColor(pet.kind));
    canvas.fillPath(Path::roundedRect(r, bodyCornerRadius, bodyCornerRadius), platform::FillRule::nonZero);
    if (pet.isFocused) {
        canvas.setStrokeColor(colors::withAlpha(colors::white, 0.95));
        canvas.setLineWidth(4);
        canvas.strokePath(Path::roundedRect(grown(r, 4), 28, 28));
    }
}

// The ghost's three hem holes below the body's bottom edge, for the clear
// blend mode. Opaque: a kept picture of them erases by its alpha.
void fillGhostHem(platform::Canvas& canvas, const Rect& r) {
    canvas.setFillColor(colors::black);
    for (double dx : {12.0, 29.0, 46.0}) canvas.fillPath(Path::ellipse({r.minX() + dx, r.minY() - 7, 16, 16}));
}

void drawKindAccents(platform::Canvas& canvas, const Rect& r, const VectorPetAppearance& pet) {
    switch (pet.kind) {
    case PetKind::cat:
        canvas.fillPath(Path::triangle({r.minX() + 10, r.maxY() - 10}, {r.minX() + 20, r.maxY() + 16},
                                       {r.minX() + 34, r.maxY() - 5}));
        canvas.fillPath(Path::triangle({r.maxX() - 10, r.maxY() - 10}, {r.maxX() - 20, r.maxY() + 16},
                                       {r.maxX() - 34, r.maxY() - 5}));
        break;
    case PetKind::sprout: {
        canvas.setStrokeColor({0.15, 0.44, 0.2, 1.0});
        canvas.setLineWidth(4);
        canvas.strokePath(Path::line({r.midX(), r.maxY() - 4}, {r.midX(), r.maxY() + 18}));
        canvas.setFillColor({0.58, 0.88, 0.42, 1.0});
        Path leaves = Path::ellipse({r.midX(), r.maxY() + 8, 22, 12});
        leaves.addEllipse({r.midX() - 22, r.maxY() + 8, 22, 12});
        canvas.fillPath(leaves);
        break;
    }
    case PetKind::ghost:
        // The hem is cut out of the body: what lies behind shows through.
        canvas.setBlendMode(platform::BlendMode::clear);
        fillGhostHem(canvas, r);
        canvas.setBlendMode(platform::BlendMode::normal);
        break;
    default: break;
    }
}

}  // namespace

Rect vectorBodyRect(const Rect& bounds, double animationTick, bool isFocused) {
    // The bob is kept on a grid of 1/32 point (at most 1/64 point off, far
    // below what anti-aliasing shows), so that the body lands on a few
    // sub-pixel phases only and its picture can be kept for each.
    constexpr double bobGrid = 32;
    const double bob = std::round(std::sin(animationTick) * (isFocused ? 4 : 2) * bobGrid) / bobGrid;
    return {bounds.minX() + 16, 40 + bob, bounds.width() - 32, bodyHeight};
}

bool isVectorPetWinking(double animationTick, bool isFocused) {
    if (!isFocused) return false;
    const double scaled = std::trunc(animationTick * 3);
    if (!std::isfinite(scaled)) return false;
    return std::fmod(scaled, 20.0) == 0;
}

void drawVectorPet(platform::Canvas& canvas, const VectorPetAppearance& pet) {
    const Rect body = vectorBodyRect(pet.bounds, pet.animationTick, pet.isFocused);
    // The shadow stays where it is while the body bobs over it: a picture
    // too, as filling an anti-aliased ellipse costs as much as a body.
    const Rect shadow{22, 30, pet.bounds.width() - 44, 10};
    platform::PictureKey shadowKey = pictureKey("shadow");
    appendToKey(shadowKey.description, shadow);
    const Rect shadowExtent{pet.bounds.minX() - 2, shadow.minY() - 2, pet.bounds.width() + 4, shadow.height() + 4};
    canvas.drawPicture(shadowKey, shadowExtent, [&shadow](platform::Canvas& c) {
        c.save();
        c.setFillColor(colors::withAlpha(colors::black, 0.16));
        c.fillPath(Path::ellipse(shadow));
        c.restore();
    });
    drawVectorBodyAndFace(canvas, body, pet);
    drawVectorAppBadge(canvas, pet);
    drawVectorNameLabel(canvas, pet);
    drawVectorWindowDots(canvas, pet);
    drawVectorResizeGrip(canvas, pet);
}

void drawVectorBodyAndFace(platform::Canvas& canvas, const Rect& body, const VectorPetAppearance& pet) {
    // Body and face only move up and down with the bob: drawn at rest as
    // pictures that move along, so the same image serves every frame whose
    // bob has the same sub-pixel phase.
    const Rect rest{body.minX(), 40, body.width(), body.height()};
    // The ring reaches 6 points around the body; ears, stem and leaves up to
    // 20 points above it.
    const Rect extent{pet.bounds.minX() - 2, rest.minY() - 8, pet.bounds.width() + 4, rest.height() + 8 + 24};
    auto drawMoving = [&](std::string_view step, const std::function<void(platform::Canvas&)>& draw,
                          platform::BlendMode mode = platform::BlendMode::normal) {
        platform::PictureKey key = pictureKey(step);
        appendToKey(key.description, rest);
        platform::appendToKey(key.description, rawValue(pet.kind));
        platform::appendToKey(key.description, double(pet.isFocused));
        platform::appendToKey(key.description, double(isVectorPetWinking(pet.animationTick, pet.isFocused)));
        key.wholePixelShifts = true;
        canvas.save();
        canvas.setBlendMode(mode);
        canvas.translate(0, body.minY() - rest.minY());
        canvas.drawPicture(key, extent, draw);
        canvas.restore();
    };
    if (pet.kind != PetKind::ghost) {
        drawMoving("body and face", [&](platform::Canvas& c) {
            drawVectorBody(c, rest, pet);
            drawVectorFace(c, rest, pet);
        });
        return;
    }
    // The ghost's hem clears what lies behind the body, the shadow too, so
    // it is cut in place between the body and the face (which lies above it):
    // a picture moving with the body too, erasing under the clear blend mode.
    drawMoving("ghost body", [&](platform::Canvas& c) {
        c.save();
        drawBodyShape(c, rest, pet);
        c.restore();
    });
    drawMoving(
        "ghost hem",
        [&](platform::Canvas& c) {
            c.save();
            fillGhostHem(c, rest);
            c.restore();
        },
        platform::BlendMode::clear);
    drawMoving("face", [&](platform::Canvas& c) { drawVectorFace(c, rest, pet); });
}

void drawVectorBody(platform::Canvas& canvas, const Rect& r, const VectorPetAppearance& pet) {
    canvas.save();
    drawBodyShape(canvas, r, pet);
    canvas.setFillColor(accentColor(pet.kind));
    drawKindAccents(canvas, r, pet);
    canvas.restore();
}

void drawVectorFace(platform::Canvas& canvas, const Rect& r, const VectorPetAppearance& pet) {
    const double eyeLine = r.midY() + 8;
    const platform::Color ink = colors::withAlpha(colors::black, 0.68);
    canvas.save();
    canvas.setFillColor(ink);
    if (isVectorPetWinking(pet.animationTick, pet.isFocused)) {
        canvas.setStrokeColor(ink);
        canvas.setLineWidth(3);
        canvas.strokePath(Path::line({r.midX() - 20, eyeLine + 3}, {r.midX() - 10, eyeLine + 3}));
    } else {
        canvas.fillPath(Path::ellipse({r.midX() - 22, eyeLine, 8, 10}));
    }
    canvas.fillPath(Path::ellipse({r.midX() + 14, eyeLine, 8, 10}));

    Path smile;
    smile.moveTo({r.midX() - 5, r.midY() - 6});
    smile.quadCurveTo({r.midX() + 5, r.midY() - 6}, {r.midX(), r.midY() - 12});
    canvas.setStrokeColor(colors::withAlpha(colors::black, 0.58));
    canvas.setLineWidth(2);
    canvas.strokePath(smile);
    canvas.restore();
}

void drawVectorAppBadge(platform::Canvas& canvas, const VectorPetAppearance& pet) {
    const Rect badge = appBadgeRect(pet.bounds, pet.appIconSizeScale);
    platform::PictureKey key = pictureKey("app badge");
    appendToKey(key.description, badge);
    if (pet.appIcon && pet.appIcon->bitmap()) key.objects.push_back(pet.appIcon->bitmap());
    else platform::appendToKey(key.description, pet.appName);  // its initial, without finding it every frame
    // The status pill is laid out from the badge and the badge text alone.
    const std::optional<std::string>* badgeText = pet.status ? &pet.status->badgeText : nullptr;
    const bool mayShowStatus = pet.displayBadges && badgeText && badgeText->has_value();
    platform::appendToKey(key.description, double(mayShowStatus));
    if (mayShowStatus) platform::appendToKey(key.description, **badgeText);
    // The letter is centred in the badge; the pill over its top right sticks
    // out by 22 % of its height (at most 20 points) and may be as wide as the
    // view. Two points more hold rounding and anti-aliased edges.
    constexpr double pillOverhang = 0.22 * 20;
    const Rect extent{pet.bounds.minX() - 2, badge.minY() - 2, pet.bounds.width() + 4,
                      badge.height() + pillOverhang + 4};
    canvas.drawPicture(key, extent, [&](platform::Canvas& c) { drawAppBadge(c, badge, pet); });
}

void drawVectorStatusBadge(platform::Canvas& canvas, const Rect& badge, const VectorPetAppearance& pet) {
    if (!pet.status) return;
    const auto layout = statusBadgeLayout(badge, pet.displayBadges, *pet.status);
    if (!layout) return;
    const Rect& pill = layout->pillRect;
    canvas.save();
    canvas.setFillColor(colors::red);
    canvas.fillPath(Path::roundedRect(pill, layout->cornerRadius, layout->cornerRadius));
    const double inset = 0.625;
    const double innerRadius = std::max(layout->cornerRadius - inset, 0.0);
    canvas.setStrokeColor(colors::withAlpha(colors::white, 0.92));
    canvas.setLineWidth(1.25);
    canvas.strokePath(Path::roundedRect(grown(pill, -inset), innerRadius, innerRadius));
    drawTextAt(canvas, layout->text, layout->font, colors::white,
               {pill.midX() - layout->textSize.width / 2, pill.midY() - layout->textSize.height / 2});
    canvas.restore();
}

void drawVectorNameLabel(platform::Canvas& canvas, const VectorPetAppearance& pet) {
    const platform::TextStyle style = nameLabelStyle();
    const Rect box{4, 88, pet.bounds.width() - 8, 14};
    platform::PictureKey key = pictureKey("name label");
    platform::appendToKey(key.description, pet.appName);
    appendToKey(key.description, style);
    appendToKey(key.description, box);
    // One line set from the top of the box stays inside it; the band is
    // widened to the view's width and by a few points for the outline.
    const Rect extent{pet.bounds.minX() - 2, box.minY() - 4, pet.bounds.width() + 4, box.height() + 8};
    canvas.drawPicture(key, extent, [&](platform::Canvas& c) { c.drawText(pet.appName, style, box); });
}

void drawVectorWindowDots(platform::Canvas& canvas, const VectorPetAppearance& pet) {
    const auto layout = windowDotsLayout(pet.bounds, pet.windowCount);
    if (!layout) return;
    platform::PictureKey key = pictureKey("window dots");
    appendToKey(key.description, layout->background);
    platform::appendToKey(key.description, double(layout->dots.size()));
    for (const Rect& dot : layout->dots) appendToKey(key.description, dot);
    platform::appendToKey(key.description, layout->overflowText.value_or(""));
    appendToKey(key.description, layout->overflowRect);
    // The overflow count starts right of the dots and may run past them.
    const Rect band = grown(layout->background, 2);
    const Rect extent{pet.bounds.minX() - 2, band.minY(), pet.bounds.width() + 4, band.height()};
    canvas.drawPicture(key, extent, [&](platform::Canvas& c) { drawWindowDots(c, *layout); });
}

void drawVectorResizeGrip(platform::Canvas& canvas, const VectorPetAppearance& pet) {
    if (!pet.isHovering) return;
    canvas.save();
    canvas.setStrokeColor(colors::withAlpha(colors::white, 0.72));
    canvas.setLineWidth(1.5);
    for (const auto& [from, to] : resizeGripLines(pet.bounds)) canvas.strokePath(Path::line(from, to));
    canvas.restore();
}

}  // namespace Mossbridge
