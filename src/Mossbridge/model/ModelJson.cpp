// The JSON formats of assignments and preferences. Members are named after
// the fields; every member is always written; on reading, members outside the
// format are ignored and the defaults below fill in the optional ones.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Mossbridge/model/AppAssignment.h"
#include "Mossbridge/model/JsonNumberOverflow.h"
#include "Mossbridge/model/MossbridgePreferences.h"
#include "Mossbridge/model/PetSize.h"

namespace Mossbridge {

namespace {

using json = nlohmann::json;

// Thrown inside this file only; every public coder turns it into a result.
struct CodingFailure {
    std::string message;
};

[[noreturn]] void fail(const std::string& path, const std::string& what) { throw CodingFailure{path + ": " + what}; }

std::string memberPath(const std::string& parent, const char* key) { return parent.empty() ? key : parent + "." + key; }

json parse(const std::string& text) {
    try {
        return json::parse(rewriteOverflowingJsonNumbers(text));
    } catch (const json::exception& error) {
        throw CodingFailure{std::string("not valid JSON: ") + error.what()};
    }
}

// A number too large for a double, as rewritten before parsing.
std::optional<double> overflowedNumber(const json& value) {
    if (!value.is_object() || value.size() != 1) return std::nullopt;
    const auto marker = value.find(std::string(jsonOverflowMarkerKey));
    if (marker == value.end() || !marker->is_string()) return std::nullopt;
    const auto& sign = marker->get_ref<const std::string&>();
    if (sign == "+") return std::numeric_limits<double>::infinity();
    if (sign == "-") return -std::numeric_limits<double>::infinity();
    return std::nullopt;
}

std::string readString(const json& value, const std::string& path) {
    if (!value.is_string()) fail(path, "expected a string");
    return value.get<std::string>();
}

double readNumber(const json& value, const std::string& path) {
    if (value.is_number()) return value.get<double>();
    if (const auto overflowed = overflowedNumber(value)) return *overflowed;
    fail(path, "expected a number");
}

std::int64_t readInteger(const json& value, const std::string& path) {
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            fail(path, "number does not fit a 64-bit integer");
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_float()) {
        // 3.0 is an integer written as a real; 3.5 or 1e30 is not.
        const double real = value.get<double>();
        constexpr double limit = 9223372036854775808.0;  // 2^63
        if (std::isfinite(real) && std::trunc(real) == real && real >= -limit && real < limit) {
            return static_cast<std::int64_t>(real);
        }
        fail(path, "number is not a 64-bit integer");
    }
    fail(path, "expected an integer");
}

bool readBool(const json& value, const std::string& path) {
    if (!value.is_boolean()) fail(path, "expected true or false");
    return value.get<bool>();
}

// Reads the members of one JSON object, naming each by its path in errors.
class ObjectReader {
public:
    ObjectReader(const json& value, std::string path) : object_(value), path_(std::move(path)) {
        if (!value.is_object() || overflowedNumber(value)) fail(path_.empty() ? "top level" : path_, "expected an object");
    }

    std::string path(const char* key) const { return memberPath(path_, key); }

    // The member, or nullptr when it is absent or null (both mean "not stored").
    const json* optional(const char* key) const {
        const auto found = object_.find(key);
        if (found == object_.end() || found->is_null()) return nullptr;
        return &*found;
    }

    const json& required(const char* key) const {
        const json* value = optional(key);
        if (!value) fail(path(key), "required value is missing or null");
        return *value;
    }

    std::string string(const char* key) const { return readString(required(key), path(key)); }
    double number(const char* key) const { return readNumber(required(key), path(key)); }

    // Leaves `field` at its default when the member is not stored.
    template <typename T, typename Read>
    void readIfStored(const char* key, T& field, Read read) const {
        if (const json* value = optional(key)) field = read(*value, path(key));
    }

private:
    const json& object_;
    std::string path_;
};

double requireFinite(double value, const std::string& path) {
    if (!std::isfinite(value)) fail(path, "number is not finite and cannot be written as JSON");
    return value;
}

std::string dump(const json& value) {
    // Invalid UTF-8 in a name is written as U+FFFD rather than failing the save.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// --- assignments ---

// A side no screen can show (a hand-edited width of 1e300 or 0) would leave
// the pet's panel undrawable; such a frame is neither written nor read.
void requireShowableSides(const CodableRect& frame, const std::string& path) {
    for (const auto& [key, side] : {std::pair{"width", frame.width}, std::pair{"height", frame.height}}) {
        if (!isShowableFrameSide(side)) {
            fail(memberPath(path, key), "a side must be from 1 to 16384 points");
        }
    }
}

json frameJson(const CodableRect& frame, const std::string& path) {
    json written{{"x", requireFinite(frame.x, memberPath(path, "x"))},
                 {"y", requireFinite(frame.y, memberPath(path, "y"))},
                 {"width", requireFinite(frame.width, memberPath(path, "width"))},
                 {"height", requireFinite(frame.height, memberPath(path, "height"))}};
    requireShowableSides(frame, path);
    return written;
}

json assignmentJson(const AppAssignment& a, const std::string& path) {
    return json{{"id", a.id.string()},
                {"bundleIdentifier", a.bundleIdentifier},
                {"appName", a.appName},
                {"petKind", rawValue(a.petKind)},
                {"category", rawValue(a.category)},
                {"frame", frameJson(a.frame, memberPath(path, "frame"))},
                {"launchCount", a.launchCount},
                {"focusClicks", a.focusClicks},
                {"lastSeenRunning", a.lastSeenRunning}};
}

// The four numbers of a stored frame, whatever their range.
CodableRect readFrameNumbers(const json& value, const std::string& path) {
    const ObjectReader frame(value, path);
    return CodableRect(frame.number("x"), frame.number("y"), frame.number("width"), frame.number("height"));
}

// A frame that is not finite (a hand-edited 1e400) could never be written
// back, so it would block every later save of the list: it is refused, like
// a side no screen can show.
void requireStorableFrame(const CodableRect& frame, const std::string& path) {
    for (const auto& [key, number] : {std::pair{"x", frame.x}, std::pair{"y", frame.y}}) {
        if (!std::isfinite(number)) fail(memberPath(path, key), "number is not finite");
    }
    requireShowableSides(frame, path);
}

// Members in the order of the format: a failure names the first bad one. The
// frame is read as four numbers; whether a screen can show it is left to the
// caller.
AppAssignment readAssignmentMembers(const json& value, const std::string& path) {
    const ObjectReader object(value, path);
    AppAssignment a;

    const auto id = platform::Uuid::parse(object.string("id"));
    if (!id) fail(object.path("id"), "not a UUID");
    a.id = *id;

    a.bundleIdentifier = object.string("bundleIdentifier");
    a.appName = object.string("appName");

    const auto kind = petKindFromRawValue(object.string("petKind"));
    if (!kind) fail(object.path("petKind"), "unknown pet kind");
    a.petKind = *kind;

    if (const json* stored = object.optional("category")) {
        const auto category = appCategoryFromRawValue(readString(*stored, object.path("category")));
        if (!category) fail(object.path("category"), "unknown category");
        a.category = *category;
    } else {
        a.category = inferCategory(a.bundleIdentifier, a.appName);
    }

    a.frame = readFrameNumbers(object.required("frame"), object.path("frame"));
    object.readIfStored("launchCount", a.launchCount, readInteger);
    object.readIfStored("focusClicks", a.focusClicks, readInteger);
    object.readIfStored("lastSeenRunning", a.lastSeenRunning, readBool);
    return a;
}

// A member of a record that may not be an object, as quoted JSON text (so a
// line naming it stays one line), or "unknown".
std::string quotedMember(const json& record, const char* key) {
    if (!record.is_object()) return "unknown";
    const auto found = record.find(key);
    if (found == record.end() || !found->is_string()) return "unknown";
    return dump(*found);
}

// The pet a record stands for, as far as it can be read.
std::string describePet(const json& record) {
    return "app " + quotedMember(record, "appName") + " (" + quotedMember(record, "bundleIdentifier") + "), kind " +
           quotedMember(record, "petKind");
}

using FrameProblem = std::pair<StoredPetRemedy, std::string>;

// What is wrong with a frame that was read as four numbers, if anything.
[[nodiscard]] std::optional<FrameProblem> frameProblem(const CodableRect& frame, const std::string& path,
                                                       const FrameOnScreen& onScreen) {
    try {
        requireStorableFrame(frame, path);
    } catch (const CodingFailure& failure) {
        return FrameProblem{StoredPetRemedy::placedAnew, failure.message};
    }
    if (onScreen && !onScreen(frame)) return FrameProblem{StoredPetRemedy::movedOntoScreen, path + ": on no screen"};
    return std::nullopt;
}

// One record of the list, read on its own: a record that cannot be read is
// left out, a pet whose frame no screen can show is kept without it, and one
// whose frame is on no screen is kept with it.
void readListRecord(const json& record, const std::string& path, const FrameOnScreen& onScreen,
                    DecodedAssignmentList& list) {
    AppAssignment a;
    try {
        a = readAssignmentMembers(record, path);
    } catch (const CodingFailure& failure) {
        list.problems.push_back({describePet(record), failure.message});
        return;
    }
    if (const auto problem = frameProblem(a.frame, memberPath(path, "frame"), onScreen)) {
        const auto& [remedy, message] = *problem;
        list.problems.push_back({describePet(record), message, remedy, list.assignments.size()});
        if (remedy == StoredPetRemedy::placedAnew) a.frame = CodableRect{};
    }
    list.assignments.push_back(std::move(a));
}

// --- preferences ---

// The shortest text that reads back as `value` ("1e+300", "3", "inf").
std::string numberText(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// Why no pet can have the size `scale`, if it cannot. A scale of zero or
// less, or one that is not finite, would make every pet degenerate and leave
// the size controls with nothing to scale from; at a scale too large, every
// pet placed would get a frame that cannot be stored, so no later save of the
// list could succeed. The icon size is held to the same rule. Small scales
// are left alone.
[[nodiscard]] std::optional<std::string> unusableScaleProblem(double scale) {
    if (!std::isfinite(scale)) return "number is not finite";
    if (!(scale > 0)) return "a size must be above 0";
    const platform::Size pet = petSize(scale);
    if (std::max(pet.width, pet.height) > kLargestFrameSide) {
        return "a pet's side at this size would be over " + numberText(kLargestFrameSide) + " points";
    }
    return std::nullopt;
}

template <typename T, typename Body>
CodingResult<T> capture(Body body) {
    try {
        return body();
    } catch (const CodingFailure& failure) {
        return CodingResult<T>::failure(failure.message);
    }
}

}  // namespace

CodingResult<std::string> encodeAssignment(const AppAssignment& assignment) {
    return capture<std::string>([&] { return dump(assignmentJson(assignment, "")); });
}

CodingResult<std::string> encodeAssignments(const std::vector<AppAssignment>& assignments) {
    return capture<std::string>([&] {
        json list = json::array();
        for (std::size_t i = 0; i < assignments.size(); ++i) {
            list.push_back(assignmentJson(assignments[i], "[" + std::to_string(i) + "]"));
        }
        return dump(list);
    });
}

CodingResult<AppAssignment> decodeAssignment(const std::string& text) {
    return capture<AppAssignment>([&] {
        AppAssignment a = readAssignmentMembers(parse(text), "");
        requireStorableFrame(a.frame, "frame");
        return a;
    });
}

CodingResult<DecodedAssignmentList> decodeAssignments(const std::string& text, const FrameOnScreen& onScreen) {
    return capture<DecodedAssignmentList>([&] {
        const json records = parse(text);
        if (!records.is_array()) fail("top level", "expected an array");
        DecodedAssignmentList list;
        list.assignments.reserve(records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            readListRecord(records[i], "[" + std::to_string(i) + "]", onScreen, list);
        }
        return list;
    });
}

CodingResult<std::string> encodePreferences(const MossbridgePreferences& p) {
    return capture<std::string>([&] {
        return dump(json{{"petSizeScale", requireFinite(p.petSizeScale, "petSizeScale")},
                         {"appIconSizeScale", requireFinite(p.appIconSizeScale, "appIconSizeScale")},
                         {"displayBadges", p.displayBadges},
                         {"autoAttachAllRunningApps", p.autoAttachAllRunningApps},
                         {"partyModeWhenMusicPlays", p.partyModeWhenMusicPlays}});
    });
}

CodingResult<DecodedPreferences> decodePreferences(const std::string& text) {
    return capture<DecodedPreferences>([&] {
        const json stored = parse(text);
        const ObjectReader object(stored, "");
        DecodedPreferences decoded;
        MossbridgePreferences& p = decoded.preferences;
        // `field` holds its default until a usable stored value replaces it.
        const auto readScale = [&](const char* key, double& field) {
            object.readIfStored(key, field, [&](const json& v, const std::string& path) {
                const double scale = readNumber(v, path);
                const auto problem = unusableScaleProblem(scale);
                if (!problem) return scale;
                decoded.problems.push_back(
                    {path + " " + numberText(scale) + ", using the default " + numberText(field), *problem});
                return field;
            });
        };
        readScale("petSizeScale", p.petSizeScale);
        readScale("appIconSizeScale", p.appIconSizeScale);
        object.readIfStored("displayBadges", p.displayBadges, readBool);
        object.readIfStored("autoAttachAllRunningApps", p.autoAttachAllRunningApps, readBool);
        object.readIfStored("partyModeWhenMusicPlays", p.partyModeWhenMusicPlays, readBool);
        return decoded;
    });
}

}  // namespace Mossbridge
