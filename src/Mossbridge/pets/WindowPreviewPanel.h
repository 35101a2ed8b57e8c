#pragma once
// The window-preview companion of a pet: a floating row of up to six
// window tiles above the pet (or above its speech bubble when that stands
// above the pet's middle), or below the pet when there is no room above,
// kept inside the visible frame of the pet's screen. It fades in and out
// over 0.12 s; a fade-out orders the panel out only if nothing was shown or
// hidden since it began. Create with make(); main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/pets/CompanionPanel.h"
#include "Mossbridge/pets/WindowPreviewViews.h"

namespace Mossbridge {

class WindowPreviewPanel final : public std::enable_shared_from_this<WindowPreviewPanel> {
public:
    static constexpr std::size_t maximumPreviews = 6;
    static constexpr double panelHeight = 136;

    static std::shared_ptr<WindowPreviewPanel> make(platform::WindowServer& server, platform::Dispatcher& dispatcher);

    // Shows the first six previews beside the pet; hides the panel instead
    // when there are none. `bubbleFrame` is the visible speech bubble's.
    void show(std::vector<AppWindowPreviewInfo> previews, const platform::Rect& petFrame,
              const std::optional<platform::Rect>& bubbleFrame);
    void hidePanel();
    platform::Rect panelFrame(const std::vector<AppWindowPreviewInfo>& previews, const platform::Rect& petFrame,
                              const std::optional<platform::Rect>& bubbleFrame) const;
    // Orders the panel out for good (its pet went away).
    void close();

    const std::vector<AppWindowPreviewInfo>& previews() const { return previews_; }
    std::uint64_t visibilityGeneration() const { return visibilityGeneration_; }
    platform::Panel& panel() const { return companion_.panel(); }
    WindowPreviewPanelView& previewView() const { return *previewView_; }

    std::function<void(bool)> onHoverChanged;
    // The `index` of the preview whose tile was clicked.
    std::function<void(int)> onWindowSelected;

private:
    struct ConstructionToken {
        explicit ConstructionToken() = default;
    };

public:
    WindowPreviewPanel(ConstructionToken, platform::WindowServer& server, platform::Dispatcher& dispatcher);

private:
    std::shared_ptr<WindowPreviewPanelView> previewView_;
    CompanionPanel companion_;
    std::vector<AppWindowPreviewInfo> previews_;
    std::uint64_t visibilityGeneration_ = 0;
};

}  // namespace Mossbridge
