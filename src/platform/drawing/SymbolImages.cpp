#include "platform/drawing/SymbolImages.h"

#include <cmath>
#include <functional>
#include <map>
#include <string>

#include "platform/drawing/CairoCanvas.h"

namespace platform {

namespace {

// Each symbol draws itself in a unit square (0..1 on both axes, y up).
using SymbolDrawing = std::function<void(Canvas&, double unit)>;

const std::map<std::string, SymbolDrawing, std::less<>>& symbols() {
    static const std::map<std::string, SymbolDrawing, std::less<>> table = {
        {"pawprint.fill",
         [](Canvas& c, double u) {
             Path path;
             path.addEllipse({0.25 * u, 0.08 * u, 0.5 * u, 0.42 * u});
             path.addEllipse({0.05 * u, 0.45 * u, 0.18 * u, 0.24 * u});
             path.addEllipse({0.25 * u, 0.66 * u, 0.19 * u, 0.27 * u});
             path.addEllipse({0.56 * u, 0.66 * u, 0.19 * u, 0.27 * u});
             path.addEllipse({0.77 * u, 0.45 * u, 0.18 * u, 0.24 * u});
             c.fillPath(path);
         }},
        {"xmark.circle.fill",
         [](Canvas& c, double u) {
             c.fillPath(Path::ellipse({0.04 * u, 0.04 * u, 0.92 * u, 0.92 * u}));
             c.setBlendMode(BlendMode::clear);
             c.setLineWidth(0.1 * u);
             Path cross = Path::line({0.33 * u, 0.33 * u}, {0.67 * u, 0.67 * u});
             cross.moveTo({0.33 * u, 0.67 * u});
             cross.lineTo({0.67 * u, 0.33 * u});
             c.strokePath(cross);
         }},
        {"play.fill",
         [](Canvas& c, double u) {
             c.fillPath(Path::triangle({0.22 * u, 0.1 * u}, {0.22 * u, 0.9 * u}, {0.9 * u, 0.5 * u}));
         }},
        {"pause.fill",
         [](Canvas& c, double u) {
             Path bars = Path::roundedRect({0.2 * u, 0.1 * u, 0.2 * u, 0.8 * u}, 0.04 * u, 0.04 * u);
             bars.addRoundedRect({0.6 * u, 0.1 * u, 0.2 * u, 0.8 * u}, 0.04 * u, 0.04 * u);
             c.fillPath(bars);
         }},
        {"backward.fill",
         [](Canvas& c, double u) {
             c.fillPath(Path::triangle({0.5 * u, 0.2 * u}, {0.5 * u, 0.8 * u}, {0.05 * u, 0.5 * u}));
             c.fillPath(Path::triangle({0.95 * u, 0.2 * u}, {0.95 * u, 0.8 * u}, {0.5 * u, 0.5 * u}));
         }},
        {"forward.fill",
         [](Canvas& c, double u) {
             c.fillPath(Path::triangle({0.05 * u, 0.2 * u}, {0.05 * u, 0.8 * u}, {0.5 * u, 0.5 * u}));
             c.fillPath(Path::triangle({0.5 * u, 0.2 * u}, {0.5 * u, 0.8 * u}, {0.95 * u, 0.5 * u}));
         }},
    };
    return table;
}

}  // namespace

ImageRef symbolImage(std::string_view name, double pointSize) {
    const auto& table = symbols();
    const auto it = table.find(name);
    if (it == table.end() || !(pointSize > 0) || !std::isfinite(pointSize)) return nullptr;
    CairoCanvas canvas({pointSize, pointSize}, 2);
    canvas.setFillColor({0, 0, 0, 1});
    canvas.setStrokeColor({0, 0, 0, 1});
    it->second(canvas, pointSize);
    return std::make_shared<const Image>(canvas.finish(), Size{pointSize, pointSize});
}

}  // namespace platform
