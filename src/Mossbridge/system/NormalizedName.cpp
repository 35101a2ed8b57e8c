#include "Mossbridge/system/NormalizedName.h"

#include "platform/core/Unicode.h"

namespace Mossbridge {

std::string normalizedName(std::string_view text) {
    const std::string lower = platform::toLowerCase(text);
    std::string kept;
    kept.reserve(lower.size());
    for (const char c : lower) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) kept += c;
    }
    return kept;
}

}  // namespace Mossbridge
