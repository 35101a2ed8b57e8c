#pragma once
// The user's preferences, persisted as one JSON object. A default-constructed
// value holds every default (1.0, 1.0, true, false, false); each member absent
// or null in stored JSON takes its default.

#include <string>
#include <vector>

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

// A stored member that was read as its default.
struct PreferenceProblem {
    // The member, the value stored and the one used instead: "petSizeScale 1e+300, using the default 1".
    std::string member;
    // What was wrong with the stored value.
    std::string problem;
};

struct DecodedPreferences {
    MossbridgePreferences preferences;
    // One per member read as its default, in the order of the format.
    std::vector<PreferenceProblem> problems;
};

// Fails when a scale is not finite, which JSON cannot represent.
CodingResult<std::string> encodePreferences(const MossbridgePreferences& preferences);

// Stored values load unclamped, except that a size no pet can have is read as
// its default, with a problem: a scale that is zero, negative or not finite
// (every pet would be degenerate and the size controls inert), or one at
// which a pet's side would pass kLargestFrameSide (no pet placed at it could
// be stored). A member of the wrong type fails the whole object.
CodingResult<DecodedPreferences> decodePreferences(const std::string& json);

}  // namespace Mossbridge
