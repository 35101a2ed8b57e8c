#pragma once
// A button of the bubbles: a system symbol (drawn in `contentTint`) or a
// title, in one of three bezels. A press released inside the button, or
// performClick(), calls `onClick`.

#include <functional>
#include <memory>
#include <string>

#include "platform/drawing/Image.h"
#include "platform/drawing/View.h"

namespace Mossbridge {

class ClosureButton final : public platform::View {
public:
    // With the platform's raw values.
    enum class BezelStyle { rounded = 1, circular = 7, inline_ = 15 };

    explicit ClosureButton(const platform::Rect& frame);
    static std::shared_ptr<ClosureButton> make(const platform::Rect& frame) {
        return std::make_shared<ClosureButton>(frame);
    }

    // Sets the image to the named symbol (no image for an unknown name).
    void setSymbol(const std::string& name, std::string accessibilityDescription);
    const std::string& symbolName() const { return symbolName_; }
    const platform::ImageRef& image() const { return image_; }
    const std::string& accessibilityDescription() const { return accessibilityDescription_; }

    std::string title;
    BezelStyle bezelStyle = BezelStyle::rounded;
    bool isBordered = true;
    int tag = 0;
    std::string toolTip;
    platform::Color contentTint{0, 0, 0, 0.85};
    std::function<void()> onClick;

    // Size of the bezel around its title or image.
    platform::Size fittingSize() const;
    void performClick();

    void draw(platform::Canvas& canvas, const platform::Rect& dirtyRect) override;
    void mouseDown(const platform::PointerEvent& event) override;
    void mouseUp(const platform::PointerEvent& event) override;

private:
    void drawSymbol(platform::Canvas& canvas, const platform::Rect& box) const;

    std::string symbolName_;
    std::string accessibilityDescription_;
    platform::ImageRef image_;
    bool pressed_ = false;
};

}  // namespace Mossbridge
