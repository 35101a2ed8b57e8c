#pragma once
// One pet assignment: which pet belongs to which application, where its panel
// sits and a few counters. Persisted as JSON (see encodeAssignments); an
// assignment requires its id, bundle identifier, application name, pet kind
// and frame, and takes defaults for the rest (a missing category is inferred).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppCategory.h"
#include "Mossbridge/model/CodingResult.h"
#include "Mossbridge/model/PetKind.h"
#include "platform/core/Geometry.h"
#include "platform/core/Uuid.h"

namespace Mossbridge {

// A frame as four plain numbers, in screen points with a bottom-left origin.
struct CodableRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    CodableRect() = default;
    CodableRect(double x_, double y_, double width_, double height_) : x(x_), y(y_), width(width_), height(height_) {}
    // The rectangle's origin, and its width and height as magnitudes.
    explicit CodableRect(const platform::Rect& rect);
    platform::Rect rect() const { return {x, y, width, height}; }

    bool operator==(const CodableRect&) const = default;
};

// The sides a pet panel can have, in points: no screen shows a panel narrower
// than a point, and none is wider or taller than 16,384 points.
inline constexpr double kSmallestFrameSide = 1;
inline constexpr double kLargestFrameSide = 16384;

// A side within the bounds above (never a NaN).
[[nodiscard]] bool isShowableFrameSide(double side);
// Every number finite and both sides showable: a frame that is not could
// never be shown, so it is neither stored nor read back.
[[nodiscard]] bool isStorableFrame(const CodableRect& frame);

struct AppAssignment {
    platform::Uuid id = platform::Uuid::random();
    std::string bundleIdentifier;
    std::string appName;
    PetKind petKind = PetKind::robotV1;
    AppCategory category = AppCategory::other;
    CodableRect frame;
    std::int64_t launchCount = 0;
    std::int64_t focusClicks = 0;
    bool lastSeenRunning = false;

    bool operator==(const AppAssignment&) const = default;
};

// JSON text of one assignment object / of the list as one array. Fails when a
// frame is not storable (a number that JSON cannot represent, or a side no
// screen can show), since it would not read back.
CodingResult<std::string> encodeAssignment(const AppAssignment& assignment);
CodingResult<std::string> encodeAssignments(const std::vector<AppAssignment>& assignments);

// What becomes of a stored record that is not taken as it stands.
enum class StoredPetRemedy {
    leftOut,
    // Kept without its frame, which is not storable.
    placedAnew,
    // Kept with a storable frame that no screen shows.
    movedOntoScreen,
};

// A stored record that was not taken as it stood.
struct AssignmentRecordProblem {
    // The pet as far as its record could be read: 'app "Chat" ("com.example.chat"), kind "Robot V1"',
    // with "unknown" for a name that could not be read.
    std::string pet;
    // The path of the bad value and what was wrong with it ("[2].frame.width: ...").
    std::string problem;
    StoredPetRemedy remedy = StoredPetRemedy::leftOut;
    // Where the pet is in the decoded list, unless it was left out.
    std::size_t index = 0;
};

// The stored list, read record by record.
struct DecodedAssignmentList {
    // The records that could be read, in stored order. A pet whose frame is not storable is kept with an empty
    // frame, and one whose frame no screen shows with that frame, for the owner of the list to place.
    std::vector<AppAssignment> assignments;
    // One per record not taken as it stood, in stored order.
    std::vector<AssignmentRecordProblem> problems;
};

// Whether some screen shows any part of a frame.
using FrameOnScreen = std::function<bool(const CodableRect&)>;

// Members that are not part of the format are ignored. A required member that
// is absent or null, a member of the wrong type, an unknown pet kind or
// category, an invalid id, a frame that is not storable or a non-integral
// count fails the object.
CodingResult<AppAssignment> decodeAssignment(const std::string& json);
// Fails only when the text is not JSON or not an array. Otherwise each element
// is read on its own: one that fails as above is left out, except for a frame
// that is not storable, which costs the pet only its frame. A storable frame
// that `onScreen` (when given) says no screen shows is a problem too.
CodingResult<DecodedAssignmentList> decodeAssignments(const std::string& json, const FrameOnScreen& onScreen = {});

}  // namespace Mossbridge
