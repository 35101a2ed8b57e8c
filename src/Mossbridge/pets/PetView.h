#pragma once
// The content view of one pet window: one pet for one assigned application.
// Kinds with a sprite manifest are shown through layers (the current sprite
// frame, and an overlay with the application badge, the status badge, the
// window dots and the resize grip); the others are drawn in draw() (see
// VectorPetDrawing.h). The view picks the animation state it shows, steps
// its animation on each tick of the shared PetAnimationClock, plays the
// speaking animation for 3.2 s after showBubbleMessage(), and turns pointer
// input into the callbacks below. Main thread only; create with make().
//
// The pet window writes the public fields and then calls refreshAppearance().

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppAssignment.h"
#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/model/MossbridgePreferences.h"
#include "Mossbridge/pets/PetAnimationClock.h"
#include "Mossbridge/pets/PetBadgeLayout.h"
#include "Mossbridge/model/PetSpriteManifest.h"
#include "platform/core/Dispatch.h"
#include "platform/drawing/Image.h"
#include "platform/drawing/Layer.h"
#include "platform/drawing/View.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

class PetView final : public platform::View, public AnimatedView {
public:
    // What the sprite layer shows; the sheet name is empty without a manifest.
    struct AnimationDrawState {
        std::string sheetName;
        int row = 0;
        int column = 0;
        double fps = 0;
        bool operator==(const AnimationDrawState&) const = default;
    };
    enum class DragMode { move, resize };

    static constexpr double basePetWidth = 92;
    static constexpr double basePetHeight = 104;

    // Sets the fields, configures the layers and refreshes the appearance.
    // `screens` is the desktop the view will be shown on: until the view has
    // a window, its main screen gives the scale of the layers (2.0 without
    // one). It must outlive the view.
    static std::shared_ptr<PetView> make(const platform::Rect& frame, AppAssignment assignment, AppStatus status,
                                         const MossbridgePreferences& preferences, platform::Dispatcher& dispatcher,
                                         const platform::WindowServer* screens = nullptr);

    AppAssignment assignment;
    bool isFocused = false;
    int windowCount = 0;
    AppStatus status;
    PetAnimationState animationState = PetAnimationState::idle;
    double appIconSizeScale = 1;
    bool displayBadges = true;
    platform::ImageRef appIcon;
    std::optional<double> inactiveSince;  // wall-clock seconds; none while frontmost

    std::function<void()> onClick;
    std::function<void(platform::Point)> onContextMenu;
    std::function<void(bool)> onHoverChanged;
    std::function<void(bool)> onInteractionChanged;

    void refreshAppearance();
    void showBubbleMessage();
    void advanceAnimation(double dt) override;
    // Registration with the shared animation clock, each done once.
    void startAnimating();
    void stopAnimating();

    PetAnimationState displayedAnimationState() const;
    PetAnimationClip currentAnimationClip() const;
    AnimationDrawState currentAnimationDrawState() const;
    std::vector<PetAnimationClip> spriteClipsForCurrentAnimation(const PetSpriteManifest& manifest) const;
    std::optional<StatusBadgeLayout> statusBadgeLayout(const platform::Rect& badge) const;
    bool isSpritePet() const { return manifest() != nullptr; }

    bool isAnimationActive() const { return isAnimationActive_; }
    bool isHovering() const { return isHovering_; }
    const std::optional<std::string>& bubbleMessage() const { return bubbleMessage_; }
    double animationTick() const { return animationTick_; }
    double spriteFrameTick() const { return spriteFrameTick_; }
    std::optional<DragMode> dragMode() const { return dragMode_; }

    // The layers, for inspection.
    struct Layers {
        std::shared_ptr<platform::Layer> sprite, overlay, appIcon;
        std::shared_ptr<platform::ShapeLayer> appBadgeBackground, statusBadgeBackground, resizeHandle, windowDotsBackground;
        std::shared_ptr<platform::TextLayer> appLetter, statusBadgeText, windowOverflowText;
        std::vector<std::shared_ptr<platform::ShapeLayer>> windowDots;
    };
    const Layers& layers() const { return layers_; }

    void layout() override;
    void viewDidMoveToWindow() override;
    void draw(platform::Canvas& canvas, const platform::Rect& dirtyRect) override;
    void updateTrackingAreas() override;
    void mouseDown(const platform::PointerEvent& event) override;
    void mouseDragged(const platform::PointerEvent& event) override;
    void mouseUp(const platform::PointerEvent& event) override;
    void rightMouseDown(const platform::PointerEvent& event) override;
    void mouseMoved(const platform::PointerEvent& event) override;
    void mouseEntered(const platform::PointerEvent& event) override;
    void mouseExited(const platform::PointerEvent& event) override;

private:
    struct ConstructionToken {
        explicit ConstructionToken() = default;
    };

public:
    PetView(ConstructionToken, const platform::Rect& frame, platform::Dispatcher& dispatcher);  // through make()

private:
    const PetSpriteManifest* manifest() const;
    // What currentAnimationClip() and currentAnimationDrawState() answer,
    // without copying: the tick compares these.
    struct DrawStateRef {
        const std::string* sheetName = nullptr;
        int row = 0;
        int column = 0;
        double fps = 0;
        bool operator==(const DrawStateRef& other) const {
            return *sheetName == *other.sheetName && row == other.row && column == other.column && fps == other.fps;
        }
        bool operator==(const AnimationDrawState& other) const {
            return *sheetName == other.sheetName && row == other.row && column == other.column && fps == other.fps;
        }
    };
    const PetAnimationClip& currentClip() const;
    DrawStateRef currentDrawStateRef() const;
    // The cut shown for `clip` at the current frame tick, kept per clip and
    // frame once found (null when the cut failed); none when the clip yields
    // no frame, which is looked up again next time.
    std::optional<platform::BitmapRef> cachedSpriteFrame(const PetAnimationClip& clip, const PetSpriteManifest& m);
    std::weak_ptr<PetView> weakSelf() { return std::static_pointer_cast<PetView>(shared_from_this()); }
    // The window's backing scale, else the main screen's, else 2.0.
    double backingScale() const;
    // The main screen's backing scale (through the window, else the
    // desktop given at creation), else 2.0.
    double mainScreenScale() const;
    void showSpeakingChange();

    // PetViewLayers.cpp
    void configureLayers();
    void layoutLayers();
    void updateSpriteLayer();
    void updateOverlayLayers();
    void updateAppBadge(const platform::Rect& bounds);
    void updateStatusBadge(const platform::Rect& badge);
    void updateWindowDots(const platform::Rect& bounds);
    void updateResizeHandle(const platform::Rect& bounds);

    // PetViewPointer.cpp
    platform::Rect resizedFrame(platform::Point pointer) const;
    void endPress();

    platform::Dispatcher& dispatcher_;
    const platform::WindowServer* screens_ = nullptr;
    Layers layers_;
    mutable std::optional<PetKind> manifestKind_;
    mutable std::optional<PetSpriteManifest> manifest_;
    struct ResolvedClip {
        const PetAnimationClip* clip = nullptr;  // in manifest_
        std::vector<std::optional<platform::BitmapRef>> frames;
    };
    mutable std::vector<ResolvedClip> resolvedClips_;  // emptied with every new manifest
    std::uint64_t resolvedGeneration_ = 0;

    double animationTick_ = 0;
    double spriteFrameTick_ = 0;
    int vectorRedrawTick_ = 0;
    bool isAnimationActive_ = false;
    std::optional<AnimationDrawState> lastAnimationDrawState_;

    std::optional<platform::Point> mouseDownPoint_;
    std::optional<platform::Point> dragStartMouseLocation_;
    std::optional<platform::Rect> dragStartFrame_;
    std::optional<DragMode> dragMode_;
    bool didDrag_ = false;
    bool didOpenLongPressMenu_ = false;
    platform::WorkItemRef longPressTask_;
    bool isHovering_ = false;

    std::optional<std::string> bubbleMessage_;
    platform::WorkItemRef bubbleHideTask_;
};

}  // namespace Mossbridge
