#pragma once
// The window server's view of every application's windows (not our own
// panels; see WindowServer.h): the list of on-screen windows as typed
// dictionaries, whether this process may capture the screen, and a picture
// of one window. Dictionaries come from outside and may lack or mistype any
// field; readers check every value. Main thread only.

#include <cstdint>
#include <optional>

#include "platform/drawing/Bitmap.h"
#include "platform/core/Geometry.h"
#include "platform/core/PropertyList.h"

namespace platform {

// Keys of a window dictionary; "kCGWindowBounds" holds a dictionary with
// "X", "Y", "Width" and "Height".
inline constexpr const char* kCGWindowNumber = "kCGWindowNumber";
inline constexpr const char* kCGWindowOwnerPID = "kCGWindowOwnerPID";
inline constexpr const char* kCGWindowOwnerName = "kCGWindowOwnerName";
inline constexpr const char* kCGWindowName = "kCGWindowName";
inline constexpr const char* kCGWindowLayer = "kCGWindowLayer";
inline constexpr const char* kCGWindowAlpha = "kCGWindowAlpha";
inline constexpr const char* kCGWindowBounds = "kCGWindowBounds";

// List options (bits).
inline constexpr unsigned kWindowListOptionOnScreenOnly = 1;
inline constexpr unsigned kWindowListOptionIncludingWindow = 8;
inline constexpr unsigned kWindowListExcludeDesktopElements = 16;
// Image options (bits).
inline constexpr unsigned kWindowImageBoundsIgnoreFraming = 1;
inline constexpr unsigned kWindowImageBestResolution = 8;
// The window number meaning "relative to no window".
inline constexpr std::uint32_t kNullWindowID = 0;

class DesktopWindowList {
public:
    virtual ~DesktopWindowList() = default;

    // The windows front to back, normally an array of dictionaries; none
    // when the window server gives no list.
    virtual std::optional<PropertyValue> copyWindowInfo(unsigned listOptions, std::uint32_t relativeToWindow) = 0;
    // Whether screen capture is allowed; never asks the user.
    virtual bool preflightScreenCaptureAccess() = 0;
    // A picture of the windows chosen by the options; `bounds` none means
    // the windows' own bounds. Null when none can be made.
    virtual BitmapRef createWindowImage(std::optional<Rect> bounds, unsigned listOptions, std::uint32_t windowID,
                                        unsigned imageOptions) = 0;
};

}  // namespace platform
