#pragma once
// The content of the window-preview panel: a row of tiles, one per window
// (its picture over its title), 10 points inside the panel and 8 apart,
// on a rounded, tinted background. A tile lights up while the pointer is
// over it and reports its preview's index when pressed; the row reports
// the pointer entering or moving over it (true) and leaving it (false).
// Main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/BubbleLabel.h"
#include "platform/drawing/View.h"

namespace Mossbridge {

class WindowPreviewItemView final : public platform::View {
public:
    static constexpr double width = 154;
    static constexpr double height = 116;
    static constexpr double pictureHeight = 88;

    explicit WindowPreviewItemView(AppWindowPreviewInfo preview);

    const AppWindowPreviewInfo& preview() const { return preview_; }
    const std::string& toolTip() const { return preview_.title; }
    const BubbleLabel& label() const { return *label_; }
    std::function<void(int)> onClick;

    bool isHighlighted() const { return isHighlighted_; }
    void setHighlighted(bool highlighted);

    void layout() override;
    void draw(platform::Canvas& canvas, const platform::Rect& dirtyRect) override;
    void updateTrackingAreas() override;
    void mouseEntered(const platform::PointerEvent& event) override;
    void mouseMoved(const platform::PointerEvent& event) override;
    void mouseExited(const platform::PointerEvent& event) override;
    void mouseDown(const platform::PointerEvent& event) override;

private:
    platform::Rect pictureFrame() const;
    void applyHighlight();

    AppWindowPreviewInfo preview_;
    std::shared_ptr<BubbleLabel> label_;
    bool isHighlighted_ = false;
};

class WindowPreviewPanelView final : public platform::View {
public:
    static constexpr double inset = 10;
    static constexpr double spacing = 8;

    WindowPreviewPanelView();

    const std::vector<AppWindowPreviewInfo>& previews() const { return previews_; }
    // Replaces the row with one tile per preview, in order.
    void setPreviews(std::vector<AppWindowPreviewInfo> previews);
    const std::vector<std::shared_ptr<WindowPreviewItemView>>& tiles() const { return tiles_; }

    std::function<void(bool)> onHoverChanged;
    std::function<void(int)> onWindowSelected;

    void layout() override;
    void draw(platform::Canvas& canvas, const platform::Rect& dirtyRect) override;
    void updateTrackingAreas() override;
    void mouseEntered(const platform::PointerEvent& event) override;
    void mouseMoved(const platform::PointerEvent& event) override;
    void mouseExited(const platform::PointerEvent& event) override;

private:
    std::vector<AppWindowPreviewInfo> previews_;
    std::vector<std::shared_ptr<WindowPreviewItemView>> tiles_;
};

}  // namespace Mossbridge
