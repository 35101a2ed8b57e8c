#include "Mossbridge/pets/PetView.h"

#include "Mossbridge/model/PerformanceLog.h"
#include "Mossbridge/pets/SpriteSheet.h"
#include "Mossbridge/pets/VectorPetDrawing.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

namespace {

constexpr double speakingSeconds = 3.2;
constexpr double sleepAfterInactiveSeconds = 12.0;
constexpr double animationTickRate = 2.88;  // radians of the bobbing sine per second
constexpr double slowDrawAboveMs = 4.0;

// Played when a kind has no manifest or its chain is empty.
const PetAnimationClip& builtInClip() {
    static const PetAnimationClip clip{
        std::nullopt, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}}, 6, PetAnimationPlayback::loop, std::nullopt};
    return clip;
}

}  // namespace

std::shared_ptr<PetView> PetView::make(const platform::Rect& frame, AppAssignment assignment, AppStatus status,
                                       const MossbridgePreferences& preferences, platform::Dispatcher& dispatcher,
                                       const platform::WindowServer* screens) {
    auto view = std::make_shared<PetView>(ConstructionToken{}, frame, dispatcher);
    view->screens_ = screens;
    view->assignment = std::move(assignment);
    view->status = std::move(status);
    view->appIconSizeScale = preferences.appIconSizeScale;
    view->displayBadges = preferences.displayBadges;
    view->configureLayers();
    view->refreshAppearance();
    return view;
}

PetView::PetView(ConstructionToken, const platform::Rect& frame, platform::Dispatcher& dispatcher)
    : View(frame), dispatcher_(dispatcher) {}

const PetSpriteManifest* PetView::manifest() const {
    // Manifests are built afresh per call; keep one per kind for the ticks.
    if (manifestKind_ != assignment.petKind) {
        manifestKind_ = assignment.petKind;
        manifest_ = spriteManifest(assignment.petKind);
        resolvedClips_.clear();
    }
    return manifest_ ? &*manifest_ : nullptr;
}

double PetView::backingScale() const {
    if (const platform::Panel* panel = window()) return panel->backingScaleFactor();
    return mainScreenScale();
}

double PetView::mainScreenScale() const {
    // The layers are set up before the view has a window, so the desktop
    // given at creation answers until then.
    const platform::WindowServer* server = window() ? &window()->server() : screens_;
    if (server) {
        if (auto screen = server->mainScreen()) return screen->backingScaleFactor;
    }
    return 2.0;
}

void PetView::refreshAppearance() {
    const bool sprite = isSpritePet();
    layers_.sprite->hidden = !sprite;
    layers_.overlay->hidden = !sprite;
    if (!sprite) {
        setNeedsDisplay(true);
        return;
    }
    prepareSpriteFrames(assignment.petKind);
    layoutLayers();
    updateSpriteLayer();
    updateOverlayLayers();
}

void PetView::layout() {
    View::layout();
    layoutLayers();
}

void PetView::viewDidMoveToWindow() {
    View::viewDidMoveToWindow();
    layoutLayers();
}

std::vector<PetAnimationClip> PetView::spriteClipsForCurrentAnimation(const PetSpriteManifest& m) const {
    return m.clipChain(displayedAnimationState());
}

PetAnimationState PetView::displayedAnimationState() const {
    if (bubbleMessage_) return PetAnimationState::speaking;
    if (isHovering_) return PetAnimationState::hover;
    if (animationState != PetAnimationState::idle) return animationState;
    if (inactiveSince && dispatcher_.clock().now() - *inactiveSince > sleepAfterInactiveSeconds)
        return PetAnimationState::sleep;
    return PetAnimationState::idle;
}

PetAnimationClip PetView::currentAnimationClip() const { return currentClip(); }

const PetAnimationClip& PetView::currentClip() const {
    const PetAnimationClip* first = nullptr;
    if (const PetSpriteManifest* m = manifest())
        forEachClipInChain(*m, displayedAnimationState(), [&first](const PetAnimationClip& clip) {
            first = &clip;
            return true;
        });
    return first ? *first : builtInClip();
}

PetView::DrawStateRef PetView::currentDrawStateRef() const {
    static const std::string noSheet;
    const PetAnimationClip& clip = currentClip();
    DrawStateRef state;
    if (!clip.frames.empty()) {
        const auto& frame = clip.frames[spriteFrameIndex(spriteFrameTick_, clip.frames.size())];
        state.row = frame.row;
        state.column = frame.column;
    }
    state.fps = clip.framesPerSecond;
    state.sheetName = &noSheet;
    if (clip.sheetName) state.sheetName = &*clip.sheetName;
    else if (const PetSpriteManifest* m = manifest()) state.sheetName = &m->sheetName;
    return state;
}

PetView::AnimationDrawState PetView::currentAnimationDrawState() const {
    const DrawStateRef ref = currentDrawStateRef();
    return {*ref.sheetName, ref.row, ref.column, ref.fps};
}

std::optional<StatusBadgeLayout> PetView::statusBadgeLayout(const platform::Rect& badge) const {
    return Mossbridge::statusBadgeLayout(badge, displayBadges, status);
}

void PetView::advanceAnimation(double dt) {
    const platform::Panel* panel = window();
    if (!isAnimationActive_ || !panel || !panel->isVisible()) return;
    // Runs for every pet on every tick: nothing here copies a clip or a
    // name, so a tick allocates nothing unless the frame changes.
    const DrawStateRef before = currentDrawStateRef();
    animationTick_ += animationTickRate * dt;
    spriteFrameTick_ += dt * currentClip().framesPerSecond;
    const DrawStateRef after = currentDrawStateRef();
    if (isSpritePet()) {
        if (before == after && lastAnimationDrawState_ && after == *lastAnimationDrawState_) return;
        if (!lastAnimationDrawState_) lastAnimationDrawState_.emplace();
        lastAnimationDrawState_->sheetName = *after.sheetName;  // reuses the storage
        lastAnimationDrawState_->row = after.row;
        lastAnimationDrawState_->column = after.column;
        lastAnimationDrawState_->fps = after.fps;
        updateSpriteLayer();
        return;
    }
    vectorRedrawTick_ = (vectorRedrawTick_ + 1) % 2;
    if (vectorRedrawTick_ == 0) setNeedsDisplay(true);
}

void PetView::startAnimating() {
    if (isAnimationActive_) return;
    isAnimationActive_ = true;
    PetAnimationClock& clock = PetAnimationClock::shared();
    clock.views().add(std::static_pointer_cast<PetView>(shared_from_this()));
    clock.start();
}

void PetView::stopAnimating() {
    if (!isAnimationActive_) return;
    isAnimationActive_ = false;
    PetAnimationClock& clock = PetAnimationClock::shared();
    clock.views().remove(this);
    clock.stopIfIdle();
}

void PetView::showSpeakingChange() {
    if (isSpritePet()) updateOverlayLayers();
    else setNeedsDisplay(true);
    refreshAppearance();
}

void PetView::showBubbleMessage() {
    if (bubbleHideTask_) bubbleHideTask_->cancel();
    bubbleMessage_ = "speaking";
    showSpeakingChange();
    auto task = std::make_shared<platform::WorkItem>([weak = weakSelf()] {
        auto self = weak.lock();
        if (!self) return;
        self->bubbleMessage_.reset();
        self->showSpeakingChange();
    });
    bubbleHideTask_ = task;
    dispatcher_.mainQueue()->after(speakingSeconds, task);
}

void PetView::draw(platform::Canvas& canvas, const platform::Rect&) {
    if (isSpritePet()) return;
    const platform::Clock& clock = dispatcher_.clock();
    const std::uint64_t start = clock.monotonicNanos();
    VectorPetAppearance appearance;
    appearance.kind = assignment.petKind;
    appearance.appName = assignment.appName;
    appearance.bounds = bounds();
    appearance.animationTick = animationTick_;
    appearance.isFocused = isFocused;
    appearance.isHovering = isHovering_;
    appearance.windowCount = windowCount;
    appearance.displayBadges = displayBadges;
    appearance.appIconSizeScale = appIconSizeScale;
    appearance.appIcon = appIcon;
    appearance.status = &status;
    drawVectorPet(canvas, appearance);
    const double elapsedMs = double(clock.monotonicNanos() - start) / 1e6;
    if (elapsedMs > slowDrawAboveMs)
        logPerformancePetDrawSlow(elapsedMs, assignment.appName, assignment.petKind, false);
}

}  // namespace Mossbridge
