// Pet sizes and lining pets up along a screen edge.

#include <algorithm>
#include <array>
#include <cmath>

#include "Mossbridge/model/AssignmentStore.h"

namespace Mossbridge {

namespace {

constexpr double kMinScale = 0.55;
constexpr double kMaxScale = 2.0;
constexpr double kMinPetWidth = 54, kMaxPetWidth = 220;
constexpr double kMinPetHeight = 62, kMaxPetHeight = 250;
constexpr double kEdgeMargin = 18;
constexpr double kPetSpacing = 10;
constexpr platform::Rect kFallbackVisibleFrame{80, 80, 1200, 760};

// Raised to `low` first, then lowered to `high` (so `high` wins when the
// bounds cross).
double clamp(double value, double low, double high) { return std::min(std::max(value, low), high); }

bool contains(const platform::Rect& outer, const platform::Rect& inner) {
    return inner.minX() >= outer.minX() && inner.maxX() <= outer.maxX() && inner.minY() >= outer.minY() &&
           inner.maxY() <= outer.maxY();
}

platform::Point edgePosition(ArrangementEdge edge, const platform::Rect& v, double i, double w, double h) {
    switch (edge) {
        case ArrangementEdge::left: return {v.minX() + kEdgeMargin, v.maxY() - kEdgeMargin - h - i * (h + kPetSpacing)};
        case ArrangementEdge::right:
            return {v.maxX() - kEdgeMargin - w, v.maxY() - kEdgeMargin - h - i * (h + kPetSpacing)};
        case ArrangementEdge::top: return {v.minX() + kEdgeMargin + i * (w + kPetSpacing), v.maxY() - kEdgeMargin - h};
        case ArrangementEdge::bottom: return {v.minX() + kEdgeMargin + i * (w + kPetSpacing), v.minY() + kEdgeMargin};
    }
    return {};
}

constexpr std::array<std::pair<ArrangementEdge, std::string_view>, 4> kEdgeNames{{
    {ArrangementEdge::left, "Left"},
    {ArrangementEdge::top, "Top"},
    {ArrangementEdge::right, "Right"},
    {ArrangementEdge::bottom, "Bottom"},
}};

}  // namespace

std::string_view rawValue(ArrangementEdge edge) {
    for (const auto& [candidate, name] : kEdgeNames) {
        if (candidate == edge) return name;
    }
    return {};
}

std::optional<ArrangementEdge> arrangementEdgeIndex(std::string_view text) {
    for (const auto& [edge, name] : kEdgeNames) {
        if (name == text) return edge;
    }
    return std::nullopt;
}

bool AssignmentStore::setPetSizeScale(double scale) {
    const double old = preferences.petSizeScale;
    // A request that is not a number would turn every frame into NaN.
    if (!(old > 0) || std::isnan(scale)) return false;
    const double scaled = clamp(scale, kMinScale, kMaxScale);
    if (std::abs(old - scaled) <= 0.001) return false;
    preferences.petSizeScale = scaled;
    const double factor = scaled / old;
    for (AppAssignment& assignment : assignments) {
        const platform::Rect frame = assignment.frame.rect();
        const double width = clamp(frame.width() * factor, kMinPetWidth, kMaxPetWidth);
        const double height = clamp(frame.height() * factor, kMinPetHeight, kMaxPetHeight);
        assignment.frame = CodableRect(frame.midX() - width / 2, frame.midY() - height / 2, width, height);
    }
    scheduleAssignmentsSave();
    schedulePreferencesSave();
    return true;
}

platform::Rect AssignmentStore::fittedInto(const platform::Rect& v, const platform::Rect& frame) {
    const double w = frame.width(), h = frame.height();
    // The left edge wins over the right, and the top over the bottom.
    const double x = std::max(std::min(frame.minX(), v.maxX() - kEdgeMargin - w), v.minX() + kEdgeMargin);
    const double y = clamp(frame.minY(), v.minY() + kEdgeMargin, v.maxY() - kEdgeMargin - h);
    return {x, y, w, h};
}

void AssignmentStore::arrangePets(ArrangementEdge edge, std::optional<platform::Rect> visibleFrame) {
    if (!visibleFrame) {
        if (const auto screens = visibleFrames(); !screens.empty()) visibleFrame = screens.front();
    }
    const platform::Rect v = visibleFrame.value_or(kFallbackVisibleFrame);
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        AppAssignment& assignment = assignments[i];
        const double w = assignment.frame.rect().width();
        const double h = assignment.frame.rect().height();
        const platform::Rect lined{edgePosition(edge, v, static_cast<double>(i), w, h), {w, h}};
        assignment.frame = CodableRect(contains(v, lined) ? lined : fittedInto(v, lined));
    }
    saveAssignments();
}

}  // namespace Mossbridge
