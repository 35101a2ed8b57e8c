#pragma once
// The user's preferences, persisted as one JSON object. A default-constructed
// value holds every default (1.0, 1.0, true, false, false); each member absent
// or null in stored JSON takes its default.

#include <string>

#include "Mossbridge/model/CodingResult.h"

namespace Mossbridge {

struct MossbridgePreferences {
    double petSizeScale = 1.0;
    double appIconSizeScale = 1.0;
    bool displayBadges = true;
    bool autoAttachAllRunningApps = false;
    bool partyModeWhenMusicPlays = false;

    bool operator==(const MossbridgePreferences&) const = default;
};

// Fails when a scale is not finite, which JSON cannot represent.
CodingResult<std::string> encodePreferences(const MossbridgePreferences& preferences);

// Stored values load unclamped, except that a scale which is zero, negative or
// not finite (it would make every pet degenerate and the size controls inert)
// is read as 1.0. A member of the wrong type fails the whole object.
CodingResult<MossbridgePreferences> decodePreferences(const std::string& json);

}  // namespace Mossbridge
