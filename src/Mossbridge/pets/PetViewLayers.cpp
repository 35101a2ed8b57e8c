// The layers of sprite pets: set-up, layout, the sprite frame and the
// overlay (application badge, status badge, window dots, resize grip).
// Layers never animate, so no transaction is needed around the updates.

#include <algorithm>

#include "Mossbridge/pets/PetView.h"
#include "Mossbridge/pets/SpriteSheet.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/SystemColors.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

namespace {

namespace colors = platform::SystemColors;

constexpr double badgeBandHeight = 24;  // the bottom band left to the badges
constexpr double smallestSpriteHeight = 40;

template <typename L>
std::shared_ptr<L> quietLayer() {
    auto layer = L::make();
    layer->actions = disabledLayerActions();
    return layer;
}

void showText(platform::TextLayer& layer, std::string text, const platform::Font& font, platform::Color color,
              const platform::Rect& frame, double scale) {
    layer.string = std::move(text);
    layer.font = font;
    layer.foregroundColor = color;
    layer.frame = frame;
    layer.contentsScale = scale;
    layer.hidden = false;
}

}  // namespace

void PetView::configureLayers() {
    Layers& l = layers_;
    l.sprite = platform::Layer::make();
    l.sprite->zPosition = 0;
    l.sprite->contentsGravity = platform::ContentsGravity::resizeAspect;
    l.sprite->magnificationFilter = l.sprite->minificationFilter = platform::LayerFilter::linear;
    l.sprite->actions = {"contents", "bounds", "position", "hidden"};
    // A frame scaled to the layer once is painted as it is after that: pets
    // of one kind share their frames, and every clip comes round again.
    l.sprite->shouldRasterize = true;
    l.overlay = quietLayer<platform::Layer>();
    l.overlay->zPosition = 1;
    // The badges change far less often than the sprite frame beneath them:
    // kept as one picture, a new frame does not set their text again.
    l.overlay->shouldRasterize = true;
    layer().addSublayer(l.sprite);
    layer().addSublayer(l.overlay);

    l.windowDotsBackground = quietLayer<platform::ShapeLayer>();
    l.windowOverflowText = quietLayer<platform::TextLayer>();
    l.appBadgeBackground = quietLayer<platform::ShapeLayer>();
    l.appIcon = quietLayer<platform::Layer>();
    l.appLetter = quietLayer<platform::TextLayer>();
    l.statusBadgeBackground = quietLayer<platform::ShapeLayer>();
    l.statusBadgeText = quietLayer<platform::TextLayer>();
    l.resizeHandle = quietLayer<platform::ShapeLayer>();
    for (const std::shared_ptr<platform::Layer>& sublayer :
         std::initializer_list<std::shared_ptr<platform::Layer>>{l.windowDotsBackground, l.windowOverflowText,
                                                                 l.appBadgeBackground, l.appIcon, l.appLetter,
                                                                 l.statusBadgeBackground, l.statusBadgeText,
                                                                 l.resizeHandle})
        l.overlay->addSublayer(sublayer);

    l.appIcon->contentsGravity = platform::ContentsGravity::resizeAspect;
    l.appLetter->alignment = l.statusBadgeText->alignment = platform::TextAlignment::center;
    l.windowOverflowText->alignment = platform::TextAlignment::left;
    // Text layers start at the main screen's scale (2.0 without one).
    const double textScale = mainScreenScale();
    for (auto* text : {l.appLetter.get(), l.statusBadgeText.get(), l.windowOverflowText.get()}) {
        text->truncateTail = true;
        text->contentsScale = textScale;
    }
}

void PetView::layoutLayers() {
    if (!isSpritePet() || !layers_.sprite) return;
    const platform::Rect b = bounds();
    layers_.sprite->frame = {b.minX(), b.minY() + badgeBandHeight, b.width(),
                             std::max(b.height() - badgeBandHeight, smallestSpriteHeight)};
    layers_.sprite->contentsScale = backingScale();
    layers_.overlay->frame = b;
    layers_.overlay->contentsScale = layers_.sprite->contentsScale;
    updateOverlayLayers();
}

void PetView::updateSpriteLayer() {
    const PetSpriteManifest* m = manifest();
    if (!m) {
        layers_.sprite->contents = nullptr;
        return;
    }
    platform::BitmapRef shown;  // null when the cut failed or no clip yields a frame
    forEachClipInChain(*m, displayedAnimationState(), [&](const PetAnimationClip& clip) {
        auto frame = cachedSpriteFrame(clip, *m);
        if (frame) shown = std::move(*frame);
        return frame.has_value();
    });
    layers_.sprite->contents = std::move(shown);
}

std::optional<platform::BitmapRef> PetView::cachedSpriteFrame(const PetAnimationClip& clip,
                                                              const PetSpriteManifest& m) {
    if (resolvedGeneration_ != spriteSheetCacheGeneration()) {
        resolvedClips_.clear();
        resolvedGeneration_ = spriteSheetCacheGeneration();
    }
    auto resolved = std::find_if(resolvedClips_.begin(), resolvedClips_.end(),
                                 [&clip](const ResolvedClip& r) { return r.clip == &clip; });
    const std::size_t index = spriteFrameIndex(spriteFrameTick_, clip.frames.size());
    if (resolved != resolvedClips_.end() && resolved->frames[index]) return resolved->frames[index];
    auto frame = spriteFrame(clip, m, spriteFrameTick_);
    if (!frame) return std::nullopt;  // a clip that yields a frame has frames
    if (resolved == resolvedClips_.end()) {
        resolvedClips_.push_back({&clip, std::vector<std::optional<platform::BitmapRef>>(clip.frames.size())});
        resolved = std::prev(resolvedClips_.end());
    }
    resolved->frames[index] = frame->croppedFrame;
    return frame->croppedFrame;
}

void PetView::updateOverlayLayers() {
    if (!isSpritePet() || !layers_.overlay) return;
    const platform::Rect b = bounds();
    layers_.overlay->frame = b;
    layers_.overlay->contentsScale = backingScale();
    updateAppBadge(b);
    updateWindowDots(b);
    updateResizeHandle(b);
}

void PetView::updateAppBadge(const platform::Rect& bounds) {
    const platform::Rect badge = appBadgeRect(bounds, appIconSizeScale);
    auto& background = *layers_.appBadgeBackground;
    background.path = platform::Path::ellipse(badge);
    background.fillColor = colors::withAlpha(colors::windowBackground, 0.92);
    background.hidden = false;

    const platform::BitmapRef icon = appIcon ? appIcon->bitmap() : nullptr;
    if (icon) {
        layers_.appIcon->contents = icon;
        layers_.appIcon->frame = appIconRect(badge);
        layers_.appIcon->hidden = false;
        layers_.appLetter->hidden = true;
    } else {
        layers_.appIcon->contents = nullptr;
        layers_.appIcon->hidden = true;
        const platform::Font font = appLetterFont(badge);
        const double lift = (badge.height() - 1.18 * font.pointSize) / 2;
        showText(*layers_.appLetter, appInitial(assignment.appName), font, colors::label,
                 {badge.minX(), badge.minY() + lift, badge.width(), badge.height()},
                 layers_.appLetter->contentsScale);
    }
    updateStatusBadge(badge);
}

void PetView::updateStatusBadge(const platform::Rect& badge) {
    const auto layout = statusBadgeLayout(badge);
    if (!layout) {
        layers_.statusBadgeBackground->hidden = true;
        layers_.statusBadgeText->hidden = true;
        return;
    }
    auto& pill = *layers_.statusBadgeBackground;
    pill.path = platform::Path::roundedRect(layout->pillRect, layout->cornerRadius, layout->cornerRadius);
    pill.fillColor = colors::red;
    pill.strokeColor = colors::withAlpha(colors::white, 0.92);
    pill.lineWidth = 1.25;
    pill.hidden = false;
    showText(*layers_.statusBadgeText, layout->text, layout->font, colors::white, layout->textRect,
             layers_.overlay->contentsScale);
}

void PetView::updateWindowDots(const platform::Rect& bounds) {
    const auto layout = windowDotsLayout(bounds, windowCount);
    auto& dots = layers_.windowDots;
    if (!layout) {
        layers_.windowDotsBackground->hidden = true;
        for (auto& dot : dots) dot->hidden = true;
        layers_.windowOverflowText->hidden = true;
        return;
    }
    while (dots.size() < layout->dots.size()) {
        dots.push_back(quietLayer<platform::ShapeLayer>());
        layers_.overlay->addSublayer(dots.back());
    }
    auto& background = *layers_.windowDotsBackground;
    background.path = platform::Path::ellipse(layout->background);
    background.fillColor = colors::withAlpha(colors::black, 0.24);
    background.hidden = false;
    for (std::size_t i = 0; i < dots.size(); ++i) {
        if (i >= layout->dots.size()) {
            dots[i]->hidden = true;
            continue;
        }
        dots[i]->path = platform::Path::ellipse(layout->dots[i]);
        dots[i]->fillColor = colors::withAlpha(colors::white, 0.92);
        dots[i]->hidden = false;
    }
    if (layout->overflowText)
        showText(*layers_.windowOverflowText, *layout->overflowText, platform::Font::boldSystem(8), colors::white,
                 layout->overflowRect, layers_.windowOverflowText->contentsScale);
    else
        layers_.windowOverflowText->hidden = true;
}

void PetView::updateResizeHandle(const platform::Rect& bounds) {
    auto& grip = *layers_.resizeHandle;
    if (!isHovering_) {
        grip.hidden = true;
        return;
    }
    platform::Path path;
    for (const auto& [from, to] : resizeGripLines(bounds)) {
        path.moveTo(from);
        path.lineTo(to);
    }
    grip.path = path;
    grip.fillColor.reset();
    grip.strokeColor = colors::withAlpha(colors::white, 0.72);
    grip.lineWidth = 1.5;
    grip.hidden = false;
}

}  // namespace Mossbridge
