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
// What fits the window above the permission rows: six pet rows and eight
// application rows, the last of each given to "and N more" when the list is
// longer.
constexpr std::size_t kMostPetRows = 6;
constexpr std::size_t kMostApplicationRows = 8;

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

// How many entries of a list of `count` get a row of their own when `rows`
// rows fit: all of them, or one fewer than fit, leaving a row for the rest.
std::size_t shownEntries(std::size_t count, std::size_t rows) { return count <= rows ? count : rows - 1; }

std::string moreText(std::size_t count, std::size_t shown) { return "and " + std::to_string(count - shown) + " more"; }

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
    const std::size_t petsShown = shownEntries(content_.pets.size(), kMostPetRows);
    for (std::size_t i = 0; i < petsShown; ++i) {
        const auto& pet = content_.pets[i];
        const platform::ImageRef picture = petPreviewImage(pet.kind, {32, 32});
        canvas.drawBitmap(picture->bitmap(), Rect(kMargin, top - 36, 32, 32));
        canvas.drawText(pet.text, body, Rect(kMargin + 44, top - 30, width - 44, 20));
        top -= kPetRowHeight;
    }
    if (petsShown < content_.pets.size()) {
        top = line(canvas, moreText(content_.pets.size(), petsShown), secondary, kMargin + 44, top, width, kRowHeight);
    }
    top -= 12;

    top = line(canvas, "Running apps", section, kMargin, top, width, kRowHeight);
    if (content_.applications.empty()) top = line(canvas, "None.", secondary, kMargin, top, width, kRowHeight);
    const std::size_t applicationsShown = shownEntries(content_.applications.size(), kMostApplicationRows);
    for (std::size_t i = 0; i < applicationsShown; ++i) {
        top = line(canvas, content_.applications[i], body, kMargin, top, width, kRowHeight);
    }
    if (applicationsShown < content_.applications.size()) {
        top = line(canvas, moreText(content_.applications.size(), applicationsShown), secondary, kMargin, top, width,
                   kRowHeight);
    }
    top -= 12;

    top = line(canvas, "Permissions", section, kMargin, top, width, kRowHeight);
    for (const auto& row : content_.permissions) {
        canvas.drawText(row.name, body, Rect(kMargin, top - kRowHeight, width / 2, kRowHeight));
        top = line(canvas, row.status, secondary, kMargin + width / 2, top, width / 2, kRowHeight);
    }
}

}  // namespace Mossbridge
