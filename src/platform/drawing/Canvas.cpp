#include "platform/drawing/Canvas.h"

#include <cstring>

namespace platform {

void appendToKey(std::string& description, double value) {
    // The value's own bytes: exact, and cheap enough to build a key for every
    // frame. (0 and -0 differ here; that only costs a second image.)
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    description.append(bytes, sizeof bytes);
}

void appendToKey(std::string& description, std::string_view value) {
    // The length first, so that texts of different lengths cannot run into
    // the values after them.
    appendToKey(description, double(value.size()));
    description.append(value);
}

}  // namespace platform
