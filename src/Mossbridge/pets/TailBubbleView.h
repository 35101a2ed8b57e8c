#pragma once
// The shape every bubble is drawn in: a tinted rounded body with an
// optional triangular tail on its upper edge (the bubble stands below the
// pet) or its lower edge (above the pet). Subclasses put their labels and
// buttons into contentView(), which sits inside the body with insets of 4
// (11 on the tail's side), and say how big their content wants to be.
// Geometry is worked out top-down ("flipped": y grows downwards) and drawn
// in the unflipped canvas.

#include <array>
#include <memory>

#include "platform/drawing/View.h"

namespace Mossbridge {

enum class BubbleTailEdge { top, bottom };

// The shape in flipped coordinates within bounds of `size`.
struct BubbleShape {
    platform::Rect body;
    bool hasTail = false;
    std::array<platform::Point, 3> tail{};  // base, tip, base
};
BubbleShape bubbleShape(platform::Size size, bool showsTail, BubbleTailEdge edge);

class TailBubbleView : public platform::View {
public:
    TailBubbleView(bool showsTail, BubbleTailEdge tailEdge);

    bool showsTail() const { return showsTail_; }
    BubbleTailEdge tailEdge() const { return tailEdge_; }
    const std::shared_ptr<platform::View>& contentView() const { return contentView_; }
    // The content view's frame within the bubble's bounds (unflipped).
    platform::Rect contentFrame() const;

    // The content's size plus the insets.
    platform::Size fittingSize() const;

    void layout() override;
    void draw(platform::Canvas& canvas, const platform::Rect& dirtyRect) override;

protected:
    virtual platform::Size contentFittingSize() const = 0;
    // Places the subviews of contentView(), whose size is `size`.
    virtual void layoutContent(platform::Size size) = 0;

    // Sets `view`'s frame from a flipped rectangle inside a content of
    // height `contentHeight`.
    static void placeFromTop(platform::View& view, const platform::Rect& flipped, double contentHeight);

private:
    double topInset() const;
    double bottomInset() const;

    bool showsTail_;
    BubbleTailEdge tailEdge_;
    std::shared_ptr<platform::View> contentView_;
};

}  // namespace Mossbridge
