#include "platform/desktop/InMemoryDesktopWindowList.h"

namespace platform {

PropertyDictionary DesktopWindow::describe() const {
    PropertyDictionary entry{
        {kCGWindowNumber, PropertyValue(static_cast<long long>(number))},
        {kCGWindowOwnerPID, PropertyValue(static_cast<long long>(ownerProcessIdentifier))},
        {kCGWindowLayer, PropertyValue(static_cast<long long>(layer))},
        {kCGWindowAlpha, PropertyValue(alpha)},
        {kCGWindowBounds, PropertyValue(PropertyDictionary{{"X", PropertyValue(bounds.origin.x)},
                                                           {"Y", PropertyValue(bounds.origin.y)},
                                                           {"Width", PropertyValue(bounds.size.width)},
                                                           {"Height", PropertyValue(bounds.size.height)}})},
    };
    if (ownerName) entry[kCGWindowOwnerName] = PropertyValue(*ownerName);
    if (name) entry[kCGWindowName] = PropertyValue(*name);
    return entry;
}

void InMemoryDesktopWindowList::setImage(std::uint32_t window, BitmapRef image) {
    setImageMaker(window, [image = std::move(image)] { return image; });
}

void InMemoryDesktopWindowList::setAnswer(std::optional<PropertyValue> answer) {
    replaced_ = true;
    answer_ = std::move(answer);
}

std::optional<PropertyValue> InMemoryDesktopWindowList::copyWindowInfo(unsigned listOptions,
                                                                       std::uint32_t relativeToWindow) {
    listRequests_.push_back({listOptions, relativeToWindow, 0, true});
    if (replaced_) return answer_;
    return PropertyValue(entries_);
}

BitmapRef InMemoryDesktopWindowList::createWindowImage(std::optional<Rect> bounds, unsigned listOptions,
                                                       std::uint32_t windowID, unsigned imageOptions) {
    imageRequests_.push_back({listOptions, windowID, imageOptions, !bounds.has_value()});
    if (!captureAllowed_) return nullptr;
    const auto found = images_.find(windowID);
    return found == images_.end() ? nullptr : found->second();
}

}  // namespace platform
