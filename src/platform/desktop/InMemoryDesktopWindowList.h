#pragma once
// The window server's list held in memory, for tests and runs without a
// display. Tests add well-formed windows or raw dictionaries of any shape,
// give windows pictures, allow or refuse screen capture, and read back the
// options every request was made with.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/desktop/DesktopWindowList.h"

namespace platform {

// One on-screen window, turned into a window dictionary by describe().
struct DesktopWindow {
    std::uint32_t number = 0;
    std::int32_t ownerProcessIdentifier = 0;
    std::optional<std::string> ownerName;
    std::optional<std::string> name;
    Rect bounds{0, 0, 800, 600};  // top-left origin, as the window server reports
    std::int64_t layer = 0;
    double alpha = 1;

    PropertyDictionary describe() const;
};

struct WindowListRequest {
    unsigned listOptions = 0;
    std::uint32_t window = 0;
    unsigned imageOptions = 0;  // image requests only
    bool boundsNull = true;     // image requests only
    bool operator==(const WindowListRequest&) const = default;
};

class InMemoryDesktopWindowList final : public DesktopWindowList {
public:
    void addWindow(const DesktopWindow& window) { entries_.push_back(window.describe()); }
    // Any value at all, as a misbehaving window server might hand it out.
    void addRawEntry(PropertyValue entry) { entries_.push_back(std::move(entry)); }
    void clear() { entries_.clear(); }
    // Replaces the whole answer; none: the window server gives no list.
    void setAnswer(std::optional<PropertyValue> answer);
    void setScreenCaptureAllowed(bool allowed) { captureAllowed_ = allowed; }
    void setImage(std::uint32_t window, BitmapRef image);
    // The picture is made by `make` each time a capture asks for it, so
    // memory follows the pictures in use rather than the windows listed.
    void setImageMaker(std::uint32_t window, std::function<BitmapRef()> make) { images_[window] = std::move(make); }

    const std::vector<WindowListRequest>& listRequests() const { return listRequests_; }
    const std::vector<WindowListRequest>& imageRequests() const { return imageRequests_; }

    std::optional<PropertyValue> copyWindowInfo(unsigned listOptions, std::uint32_t relativeToWindow) override;
    bool preflightScreenCaptureAccess() override { return captureAllowed_; }
    BitmapRef createWindowImage(std::optional<Rect> bounds, unsigned listOptions, std::uint32_t windowID,
                                unsigned imageOptions) override;

private:
    PropertyArray entries_;
    bool replaced_ = false;
    std::optional<PropertyValue> answer_;
    bool captureAllowed_ = false;
    std::map<std::uint32_t, std::function<BitmapRef()>> images_;
    std::vector<WindowListRequest> listRequests_;
    std::vector<WindowListRequest> imageRequests_;
};

}  // namespace platform
