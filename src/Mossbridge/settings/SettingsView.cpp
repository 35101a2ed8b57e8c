#include "Mossbridge/settings/SettingsView.h"

#include <algorithm>

#include "Mossbridge/pets/PetPreviewImage.h"
#include "platform/drawing/SystemColors.h"

namespace Mossbridge {

namespace {

using platform::Rect;
namespace Colors = platform::SystemColors;

constexpr double kMargin = 28;
constexpr double kRowHeight = 26;
constexpr double kPetRowHeight = 40;
constexpr std::size_t kMostRowsPerSection = 12;

platform::TextStyle style(double size, platform::FontWeight weight, platform::Color color) {
    platform::TextStyle text;
    text.font = platform::Font::system(size, weight);
    text.foreground = color;
    text.truncateTail = true;
    return text;
}

// Draws one line whose top sits at `top`; answers the top of the next line.
double line(platform::Canvas& canvas, const std::string& text, const platform::TextStyle& textStyle, double x,
            double top, double width, double height) {
    canvas.drawText(text, textStyle, Rect(x, top - height, width, height));
    return top - height;
}

}  // namespace

void SettingsView::setContent(SettingsContent content) {
    content_ = std::move(content);
    setNeedsDisplay(true);
}

void SettingsView::draw(platform::Canvas& canvas, const Rect&) {
    const Rect area = bounds();
    canvas.setFillColor(Colors::windowBackground);
    canvas.fillPath(platform::Path::rectangle(area));

    const double width = area.width() - 2 * kMargin;
    const auto header = style(22, platform::FontWeight::bold, Colors::label);
    const auto section = style(14, platform::FontWeight::semibold, Colors::label);
    const auto body = style(13, platform::FontWeight::regular, Colors::label);
    const auto secondary = style(13, platform::FontWeight::regular, Colors::secondaryLabel);

    double top = area.maxY() - kMargin;
    top = line(canvas, "Mossbridge", header, kMargin, top, width, 32) - 12;

    top = line(canvas, "Pets", section, kMargin, top, width, kRowHeight);
    if (content_.pets.empty()) top = line(canvas, "No pets yet.", secondary, kMargin, top, width, kRowHeight);
    for (std::size_t i = 0; i < std::min(content_.pets.size(), kMostRowsPerSection); ++i) {
        const auto& pet = content_.pets[i];
        const platform::ImageRef picture = petPreviewImage(pet.kind, {32, 32});
        canvas.drawBitmap(picture->bitmap(), Rect(kMargin, top - 36, 32, 32));
        canvas.drawText(pet.text, body, Rect(kMargin + 44, top - 30, width - 44, 20));
        top -= kPetRowHeight;
    }
    top -= 12;

    top = line(canvas, "Running apps", section, kMargin, top, width, kRowHeight);
    if (content_.applications.empty()) top = line(canvas, "None.", secondary, kMargin, top, width, kRowHeight);
    for (std::size_t i = 0; i < std::min(content_.applications.size(), kMostRowsPerSection); ++i) {
        top = line(canvas, content_.applications[i], body, kMargin, top, width, kRowHeight);
    }
    top -= 12;

    top = line(canvas, "Permissions", section, kMargin, top, width, kRowHeight);
    for (const auto& row : content_.permissions) {
        canvas.drawText(row.name, body, Rect(kMargin, top - kRowHeight, width / 2, kRowHeight));
        top = line(canvas, row.status, secondary, kMargin + width / 2, top, width / 2, kRowHeight);
    }
}

}  // namespace Mossbridge
