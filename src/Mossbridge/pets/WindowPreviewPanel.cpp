#include "Mossbridge/pets/WindowPreviewPanel.h"

#include <algorithm>

namespace Mossbridge {

namespace {

constexpr double anchorGap = 6;
constexpr double screenMargin = 10;
constexpr double orderedOutAlpha = 0.05;

}  // namespace

std::shared_ptr<WindowPreviewPanel> WindowPreviewPanel::make(platform::WindowServer& server,
                                                             platform::Dispatcher& dispatcher) {
    auto panel = std::make_shared<WindowPreviewPanel>(ConstructionToken{}, server, dispatcher);
    std::weak_ptr<WindowPreviewPanel> weak = panel;
    panel->previewView_->onHoverChanged = [weak](bool hovering) {
        auto owner = weak.lock();
        if (owner && owner->onHoverChanged) owner->onHoverChanged(hovering);
    };
    panel->previewView_->onWindowSelected = [weak](int index) {
        auto owner = weak.lock();
        if (owner && owner->onWindowSelected) owner->onWindowSelected(index);
    };
    return panel;
}

WindowPreviewPanel::WindowPreviewPanel(ConstructionToken, platform::WindowServer& server,
                                       platform::Dispatcher& dispatcher)
    : previewView_(std::make_shared<WindowPreviewPanelView>()), companion_(server, dispatcher, previewView_) {}

void WindowPreviewPanel::show(std::vector<AppWindowPreviewInfo> previews, const platform::Rect& petFrame,
                              const std::optional<platform::Rect>& bubbleFrame) {
    if (previews.size() > maximumPreviews) previews.resize(maximumPreviews);
    if (previews.empty()) {
        hidePanel();
        return;
    }
    previews_ = previews;
    previewView_->setPreviews(std::move(previews));
    ++visibilityGeneration_;
    companion_.panel().setFrame(panelFrame(previews_, petFrame, bubbleFrame), true);
    companion_.panel().orderFront();
    companion_.fade(1);
}

void WindowPreviewPanel::hidePanel() {
    platform::Panel& shown = companion_.panel();
    if (!shown.isVisible() && !(shown.alphaValue > 0)) return;
    const std::uint64_t generation = ++visibilityGeneration_;
    std::weak_ptr<WindowPreviewPanel> weak = weak_from_this();
    companion_.fade(0, [weak, generation] {
        auto owner = weak.lock();
        if (owner && owner->visibilityGeneration_ == generation && owner->panel().alphaValue <= orderedOutAlpha)
            owner->panel().orderOut();
    });
}

platform::Rect WindowPreviewPanel::panelFrame(const std::vector<AppWindowPreviewInfo>& previews,
                                              const platform::Rect& petFrame,
                                              const std::optional<platform::Rect>& bubbleFrame) const {
    const double count = double(std::min(previews.size(), maximumPreviews));
    const double width = WindowPreviewItemView::width * count + 2 * WindowPreviewPanelView::inset +
                         WindowPreviewPanelView::spacing * std::max(0.0, count - 1);
    const platform::Rect visible = visibleFrameContaining(companion_.server(), petFrame);
    const platform::Rect anchor = bubbleFrame && bubbleFrame->minY() >= petFrame.midY() ? *bubbleFrame : petFrame;

    const double above = anchor.maxY() + anchorGap;
    const double y = above + panelHeight <= visible.maxY() - screenMargin
                         ? above
                         : std::max(petFrame.minY() - panelHeight - anchorGap, visible.minY() + screenMargin);
    const double x = std::min(std::max(petFrame.midX() - width / 2, visible.minX() + screenMargin),
                              visible.maxX() - width - screenMargin);
    return {x, y, width, panelHeight};
}

void WindowPreviewPanel::close() {
    ++visibilityGeneration_;
    companion_.close();
}

}  // namespace Mossbridge
