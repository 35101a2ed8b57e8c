#include "Mossbridge/pets/TailBubbleView.h"

#include <algorithm>

#include "Mossbridge/pets/BubbleColors.h"
#include "platform/drawing/Path.h"

namespace Mossbridge {

namespace {

constexpr double sideInset = 4;
constexpr double tailInset = 11;
constexpr double cornerRadius = 24;

platform::Color fillColor() {
    return platform::SystemColors::withAlpha(
        BubbleColors::blended(platform::SystemColors::windowBackground, 0.08, BubbleColors::cyan), 0.98);
}

}  // namespace

BubbleShape bubbleShape(platform::Size size, bool showsTail, BubbleTailEdge edge) {
    const double width = size.width, height = size.height;
    BubbleShape shape;
    const bool tailOnTop = showsTail && edge == BubbleTailEdge::top;
    shape.body = {sideInset, tailOnTop ? tailInset : sideInset, width - 2 * sideInset,
                  showsTail ? height - 16 : height - 8};
    if (!showsTail) return shape;
    shape.hasTail = true;
    const platform::Rect& body = shape.body;
    const double tipX = std::min(std::max(width / 2, body.minX() + 18), body.maxX() - 18);
    if (edge == BubbleTailEdge::bottom)
        shape.tail = {{{tipX - 8, body.maxY() - 1}, {tipX, body.maxY() + 7}, {tipX + 8, body.maxY() - 1}}};
    else
        shape.tail = {{{tipX - 8, body.minY() + 1}, {tipX, body.minY() - 7}, {tipX + 8, body.minY() + 1}}};
    return shape;
}

TailBubbleView::TailBubbleView(bool showsTail, BubbleTailEdge tailEdge)
    : platform::View({}), showsTail_(showsTail), tailEdge_(tailEdge), contentView_(std::make_shared<platform::View>(platform::Rect{})) {
    addSubview(contentView_);
}

double TailBubbleView::topInset() const {
    return showsTail_ && tailEdge_ == BubbleTailEdge::top ? tailInset : sideInset;
}

double TailBubbleView::bottomInset() const {
    return showsTail_ && tailEdge_ == BubbleTailEdge::bottom ? tailInset : sideInset;
}

platform::Rect TailBubbleView::contentFrame() const {
    const platform::Rect box = bounds();
    return {sideInset, bottomInset(), std::max(box.width() - 2 * sideInset, 0.0),
            std::max(box.height() - topInset() - bottomInset(), 0.0)};
}

platform::Size TailBubbleView::fittingSize() const {
    const platform::Size content = contentFittingSize();
    return {content.width + 2 * sideInset, content.height + topInset() + bottomInset()};
}

void TailBubbleView::layout() {
    const platform::Rect frame = contentFrame();
    contentView_->setFrame(frame);
    layoutContent(frame.size);
}

void TailBubbleView::placeFromTop(platform::View& view, const platform::Rect& flipped, double contentHeight) {
    view.setFrame({flipped.origin.x, contentHeight - flipped.origin.y - flipped.size.height, flipped.size.width,
                   flipped.size.height});
}

void TailBubbleView::draw(platform::Canvas& canvas, const platform::Rect&) {
    const double height = bounds().height();
    const BubbleShape shape = bubbleShape(bounds().size, showsTail_, tailEdge_);
    auto unflip = [height](const platform::Rect& r) {
        return platform::Rect{r.minX(), height - r.maxY(), r.width(), r.height()};
    };
    const platform::Color fill = fillColor();
    const platform::Color stroke = platform::SystemColors::withAlpha(BubbleColors::cyan, 0.34);

    canvas.save();
    const platform::Rect body = unflip(shape.body);
    const platform::Path bodyPath = platform::Path::roundedRect(body, cornerRadius, cornerRadius);
    canvas.setFillColor(fill);
    canvas.fillPath(bodyPath);
    canvas.setStrokeColor(stroke);
    canvas.setLineWidth(1.35);
    canvas.strokePath(bodyPath);

    const platform::Rect inner{body.minX() + 1.2, body.minY() + 1.2, body.width() - 2.4, body.height() - 2.4};
    canvas.setStrokeColor(platform::SystemColors::withAlpha(platform::SystemColors::white, 0.28));
    canvas.setLineWidth(0.8);
    canvas.strokePath(platform::Path::roundedRect(inner, cornerRadius - 1, cornerRadius - 1));

    if (shape.hasTail) {
        platform::Path tail;
        tail.moveTo({shape.tail[0].x, height - shape.tail[0].y});
        tail.lineTo({shape.tail[1].x, height - shape.tail[1].y});
        tail.lineTo({shape.tail[2].x, height - shape.tail[2].y});
        tail.closeSubpath();
        canvas.setFillColor(fill);
        canvas.fillPath(tail);
        canvas.setStrokeColor(stroke);
        canvas.setLineWidth(1.2);
        canvas.strokePath(tail);
    }
    canvas.restore();
}

}  // namespace Mossbridge
