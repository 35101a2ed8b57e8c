// Draws every sprite sheet that a pet kind's manifest names, on the grid the
// manifest expects (square cells, one row per row of frames), and writes
// them as "<sheet>.png" into the folder given as the only argument.
//
// Each cell shows the kind's creature in its accent colour, posed for the
// animation state that plays the cell and for the frame's place in its clip,
// with a strip of dots marking the column, so that neighbouring frames
// always differ.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numbers>
#include <string>

#include "Mossbridge/model/PetKind.h"
#include "platform/drawing/CairoCanvas.h"

namespace {

using Mossbridge::PetAnimationState;
using platform::Color;
using platform::Path;
using platform::Point;
using platform::Rect;

constexpr int cellSize = 96;

struct CellPose {
    PetAnimationState state = PetAnimationState::idle;
    int index = 0;  // place in the clip
    int count = 1;  // frames in the clip
    int column = 0;
};

struct Sheet {
    int columns = 1;
    int rows = 0;
    Color accent;
    unsigned variant = 0;  // which head ornament
    std::map<std::pair<int, int>, CellPose> cells;
};

Color shade(Color c, double factor) {
    return {std::clamp(c.red * factor, 0.0, 1.0), std::clamp(c.green * factor, 0.0, 1.0),
            std::clamp(c.blue * factor, 0.0, 1.0), c.alpha};
}

Path polygon(std::initializer_list<Point> points) {
    Path path;
    bool first = true;
    for (Point p : points) {
        first ? path.moveTo(p) : path.lineTo(p);
        first = false;
    }
    path.closeSubpath();
    return path;
}

// A marker above the head that says which animation plays.
void drawStateMarker(platform::Canvas& c, const CellPose& pose, double phase) {
    const Color ink{0.1, 0.1, 0.14, 0.9};
    c.setFillColor(ink);
    c.setStrokeColor(ink);
    c.setLineWidth(2);
    switch (pose.state) {
    case PetAnimationState::sleep: {
        platform::TextStyle style;
        style.font = platform::Font::boldSystem(12 + 3 * (pose.index % 3));
        style.foreground = ink;
        c.drawText("z", style, {62 + 3.0 * (pose.index % 3), 70 + 2.0 * (pose.index % 4), 20, 20});
        break;
    }
    case PetAnimationState::hover:
        for (int k = 0; k < 3; ++k) {
            const double a = phase + k * 2.1;
            c.fillPath(Path::ellipse({48 + 36 * std::cos(a) - 3, 52 + 30 * std::sin(a) - 3, 6, 6}));
        }
        break;
    case PetAnimationState::speaking:
    case PetAnimationState::waiting:
    case PetAnimationState::error:
        c.setFillColor({1, 1, 1, 0.95});
        c.fillPath(Path::roundedRect({58, 70, 34, 20}, 8, 8));
        c.setFillColor(ink);
        for (int k = 0; k <= pose.index % 3; ++k) c.fillPath(Path::ellipse({63 + 9.0 * k, 77, 5, 5}));
        break;
    case PetAnimationState::work:
        c.setFillColor({0.25, 0.27, 0.3, 1});
        c.fillPath(Path::roundedRect({30, 8, 36, 14}, 3, 3));
        c.setFillColor({0.5, 0.9, 0.6, 1});
        c.fillPath(Path::rectangle({33 + 4.0 * (pose.index % 6), 14, 4, 4}));
        break;
    case PetAnimationState::music: {
        const double lift = 6 * std::sin(phase);
        c.fillPath(Path::ellipse({70, 70 + lift, 9, 7}));
        c.strokePath(Path::line({78, 74 + lift}, {78, 90 + lift}));
        break;
    }
    case PetAnimationState::idle: break;
    }
}

void drawCell(platform::Canvas& c, const Sheet& sheet, const CellPose& pose) {
    const double phase = 2 * std::numbers::pi * pose.index / std::max(pose.count, 1);
    const bool asleep = pose.state == PetAnimationState::sleep;
    const double bob = (asleep ? 2 : 6) * std::sin(phase);
    const double squash = pose.state == PetAnimationState::music ? 4 * std::cos(phase) : 0;
    const Rect body{18 - squash / 2, 24 + bob, 60 + squash, 44 - squash / 2};

    c.setFillColor({0, 0, 0, 0.18});
    c.fillPath(Path::ellipse({24, 10, 48, 8}));

    // Head ornament, swaying with the frame.
    c.setFillColor(shade(sheet.accent, 0.75));
    c.setStrokeColor(shade(sheet.accent, 0.6));
    c.setLineWidth(3);
    const double sway = 6 * std::sin(phase + 1);
    if (sheet.variant == 0) {
        c.strokePath(Path::line({body.midX(), body.maxY() - 2}, {body.midX() + sway, body.maxY() + 14}));
        c.fillPath(Path::ellipse({body.midX() + sway - 4, body.maxY() + 12, 8, 8}));
    } else if (sheet.variant == 1) {
        c.fillPath(polygon({{body.minX() + 6, body.maxY() - 6}, {body.minX() + 14 + sway / 2, body.maxY() + 14},
                            {body.minX() + 26, body.maxY() - 4}}));
        c.fillPath(polygon({{body.maxX() - 6, body.maxY() - 6}, {body.maxX() - 14 + sway / 2, body.maxY() + 14},
                            {body.maxX() - 26, body.maxY() - 4}}));
    } else {
        c.fillPath(Path::ellipse({body.midX() - 14 + sway, body.maxY() - 4, 28, 12}));
    }

    c.setFillColor(sheet.accent);
    c.fillPath(Path::roundedRect(body, 18, 18));
    c.setStrokeColor(shade(sheet.accent, 0.55));
    c.setLineWidth(2);
    c.strokePath(Path::roundedRect(body, 18, 18));

    // Eyes: closed while asleep and on the blink frame of each clip.
    const bool blink = asleep || pose.index % 5 == 4;
    const double eyeY = body.midY() + 4;
    const double look = pose.state == PetAnimationState::hover ? 3 * std::cos(phase) : 0;
    c.setFillColor({0.05, 0.05, 0.08, 0.85});
    c.setStrokeColor({0.05, 0.05, 0.08, 0.85});
    c.setLineWidth(2.5);
    for (double x : {body.midX() - 14 + look, body.midX() + 8 + look}) {
        if (blink) c.strokePath(Path::line({x, eyeY + 4}, {x + 7, eyeY + 4}));
        else c.fillPath(Path::ellipse({x, eyeY, 7, 9}));
    }
    // Mouth: open on alternate frames while speaking, else a smile.
    if (pose.state == PetAnimationState::speaking && pose.index % 2 == 0) {
        c.fillPath(Path::ellipse({body.midX() - 5, body.midY() - 12, 10, 7}));
    } else {
        Path smile;
        smile.moveTo({body.midX() - 6, body.midY() - 7});
        smile.quadCurveTo({body.midX() + 6, body.midY() - 7}, {body.midX(), body.midY() - 13});
        c.setLineWidth(2);
        c.strokePath(smile);
    }

    drawStateMarker(c, pose, phase);

    // The frame strip: one dot per place in the clip, the current one lit.
    const int dots = std::min(pose.count, 10);
    for (int k = 0; k < dots; ++k) {
        c.setFillColor(k == pose.index % dots ? Color{1, 1, 1, 0.95} : Color{0, 0, 0, 0.25});
        c.fillPath(Path::ellipse({48 - dots * 3.5 + 7.0 * k, 2, 5, 5}));
    }
}

bool writeSheet(const std::filesystem::path& folder, const std::string& name, const Sheet& sheet) {
    platform::CairoCanvas canvas({double(sheet.columns * cellSize), double(sheet.rows * cellSize)}, 1);
    for (const auto& [cell, pose] : sheet.cells) {
        const auto [row, column] = cell;
        canvas.save();
        // Row 0 is the top row of the sheet; the canvas counts from the bottom.
        canvas.translate(column * cellSize, (sheet.rows - 1 - row) * cellSize);
        canvas.clipToRect({0, 0, cellSize, cellSize});
        drawCell(canvas, sheet, pose);
        canvas.restore();
    }
    return canvas.finish()->writePng(folder / (name + ".png"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);

    std::map<std::string, Sheet> sheets;
    for (Mossbridge::PetKind kind : Mossbridge::everyPetKind()) {
        const auto manifest = Mossbridge::spriteManifest(kind);
        if (!manifest) continue;
        const unsigned variant = static_cast<unsigned>(std::hash<std::string>{}(manifest->sheetName) % 3);
        for (const auto& [state, clip] : manifest->clips) {
            const std::string name = clip.sheetName.value_or(manifest->sheetName);
            Sheet& sheet = sheets[name];
            sheet.columns = std::max(manifest->columnsForSheet(name), 1);
            sheet.accent = Mossbridge::accentColor(kind);
            sheet.variant = variant;
            const int count = static_cast<int>(clip.frames.size());
            for (int i = 0; i < count; ++i) {
                const auto& frame = clip.frames[i];
                sheet.rows = std::max(sheet.rows, frame.row + 1);
                // Shared cells (waiting and error reuse speaking) keep the first pose.
                sheet.cells.emplace(std::pair{frame.row, frame.column}, CellPose{state, i, count, frame.column});
            }
        }
    }
    for (const auto& [name, sheet] : sheets) {
        if (!writeSheet(folder, name, sheet)) {
            std::fprintf(stderr, "generate_sprite_sheets: cannot write %s\n", (folder / (name + ".png")).c_str());
            return 1;
        }
    }
    return 0;
}
