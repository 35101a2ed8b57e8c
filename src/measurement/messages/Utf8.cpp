#include "measurement/messages/Utf8.h"

#include <unicode/utf8.h>

#include <cstdint>

namespace measurement::messages {

bool isWellFormedUtf8(const std::uint8_t* bytes, std::size_t length) {
    if (length > static_cast<std::size_t>(INT32_MAX)) {
        return false;
    }
    const auto total = static_cast<std::int32_t>(length);
    std::int32_t offset = 0;
    while (offset < total) {
        UChar32 codePoint;
        U8_NEXT(bytes, offset, total, codePoint);
        if (codePoint < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace measurement::messages
