#include "Mossbridge/VectorPetDrawing.h"

#include <cmath>

#include "Mossbridge/PetBadgeLayout.h"
#include "platform/SystemColors.h"

namespace Mossbridge {

namespace {

namespace colors = platform::SystemColors;
using platform::Path;
using platform::Point;
using platform::Rect;

constexpr double bodyCornerRadius = 24;
constexpr double bodyHeight = 52;

Path closedTriangle(Point a, Point b, Point c) {
    Path path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    return path;
}

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

void drawKindAccents(platform::Canvas& canvas, const Rect& r, const VectorPetAppearance& pet) {
    switch (pet.kind) {
    case PetKind::cat:
        canvas.fillPath(closedTriangle({r.minX() + 10, r.maxY() - 10}, {r.minX() + 20, r.maxY() + 16},
                                       {r.minX() + 34, r.maxY() - 5}));
        canvas.fillPath(closedTriangle({r.maxX() - 10, r.maxY() - 10}, {r.maxX() - 20, r.maxY() + 16},
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
        canvas.setFillColor(colors::clear);
        canvas.setBlendMode(platform::BlendMode::clear);
        for (double dx : {12.0, 29.0, 46.0}) canvas.fillPath(Path::ellipse({r.minX() + dx, r.minY() - 7, 16, 16}));
        canvas.setBlendMode(platform::BlendMode::normal);
        break;
    default: break;
    }
}

}  // namespace

Rect vectorBodyRect(const Rect& bounds, double animationTick, bool isFocused) {
    const double bob = std::sin(animationTick) * (isFocused ? 4 : 2);
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
    canvas.save();
    canvas.setFillColor(colors::withAlpha(colors::black, 0.16));
    canvas.fillPath(Path::ellipse({22, 30, pet.bounds.width() - 44, 10}));
    canvas.restore();
    drawVectorBody(canvas, body, pet);
    drawVectorFace(canvas, body, pet);
    drawVectorAppBadge(canvas, pet);
    drawVectorNameLabel(canvas, pet);
    drawVectorWindowDots(canvas, pet);
    drawVectorResizeGrip(canvas, pet);
}

void drawVectorBody(platform::Canvas& canvas, const Rect& r, const VectorPetAppearance& pet) {
    canvas.save();
    canvas.setFillColor(accentColor(pet.kind));
    canvas.fillPath(Path::roundedRect(r, bodyCornerRadius, bodyCornerRadius), platform::FillRule::nonZero);
    if (pet.isFocused) {
        canvas.setStrokeColor(colors::withAlpha(colors::white, 0.95));
        canvas.setLineWidth(4);
        canvas.strokePath(Path::roundedRect(grown(r, 4), 28, 28));
    }
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
    platform::TextStyle style;
    style.font = platform::Font::system(10, platform::FontWeight::semibold);
    style.foreground = colors::white;
    style.alignment = platform::TextAlignment::center;
    style.truncateTail = true;
    style.strokeColor = colors::withAlpha(colors::black, 0.45);
    style.strokeWidth = -2;  // outlined and filled
    canvas.drawText(pet.appName, style, {4, 88, pet.bounds.width() - 8, 14});
}

void drawVectorWindowDots(platform::Canvas& canvas, const VectorPetAppearance& pet) {
    const auto layout = windowDotsLayout(pet.bounds, pet.windowCount);
    if (!layout) return;
    canvas.save();
    canvas.setFillColor(colors::withAlpha(colors::black, 0.24));
    canvas.fillPath(Path::ellipse(layout->background));
    canvas.setFillColor(colors::withAlpha(colors::white, 0.92));
    for (const Rect& dot : layout->dots) canvas.fillPath(Path::ellipse(dot));
    if (layout->overflowText)
        drawTextAt(canvas, *layout->overflowText, platform::Font::boldSystem(8), colors::white,
                   layout->overflowRect.origin);
    canvas.restore();
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
