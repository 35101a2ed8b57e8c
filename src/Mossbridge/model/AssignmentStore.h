#pragma once
// AssignmentStore: the one owner of the pet assignments and the preferences,
// shared by reference between the coordinator, the pet controller and the
// settings window. Both live as JSON in the standard user defaults under
// "Mossbridge.assignments.v1" and "Mossbridge.preferences.v1". Most changes
// are written at once; size changes go through a 0.18 s debounce on the main
// queue. Stored data that cannot be read loads as empty (or as defaults) and
// is copied to "<key>.unreadable" before it is first written over. The list is
// read record by record: a record that cannot be read is left out, a pet
// whose frame no screen can show is placed as a new pet, and one whose frame
// is on no screen at load is moved onto the main screen, each with a line on
// standard error; the stored list is then copied aside in the same way. A
// stored pet size that no pet can have loads as the default, with a line, and
// the stored preferences are copied aside in the same way. A value that would
// not read back (a non-finite number, a frame no screen can show) is never
// written: the stored value stays as it was. Operations taking an id act on
// the first assignment with it and do nothing when there is none. Main thread
// only.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Mossbridge/model/AppAssignment.h"
#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/model/MossbridgePreferences.h"
#include "platform/core/Dispatch.h"
#include "platform/core/Geometry.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"

namespace Mossbridge {

enum class ArrangementEdge { left, top, right, bottom };

// "Left", "Top", "Right", "Bottom".
std::string_view rawValue(ArrangementEdge edge);
// Exact match of a raw value; anything else gives none.
[[nodiscard]] std::optional<ArrangementEdge> arrangementEdgeIndex(std::string_view text);

class AssignmentStore : public std::enable_shared_from_this<AssignmentStore> {
public:
    static constexpr const char* defaultsKey = "Mossbridge.assignments.v1";
    static constexpr const char* preferencesKey = "Mossbridge.preferences.v1";
    static constexpr double saveDebounceSeconds = 0.18;

    // The visible frame of every screen, the main screen's first; empty when
    // there is no screen.
    using ScreenVisibleFrames = std::function<std::vector<platform::Rect>()>;

    // Loads the preferences, then the assignments (a stored pet placed anew
    // takes the stored pet size).
    static std::shared_ptr<AssignmentStore> create(std::shared_ptr<platform::UserDefaults> defaults,
                                                   platform::QueueRef mainQueue,
                                                   ScreenVisibleFrames screenVisibleFrames);

    // In creation order. Owners may append (then saveAssignments()) or set a
    // preference (then savePreferences() or schedulePreferencesSave()).
    std::vector<AppAssignment> assignments;
    MossbridgePreferences preferences;

    // A pet whose stored frame meets no screen's visible frame moves, at its
    // size, into the main screen's (fittedInto); with no screen known, every
    // frame stays.
    void loadAssignments();
    void loadPreferences();
    // Writes the list, then tells the observers (whether or not it could be
    // written: the list in memory is what the pets show).
    void saveAssignments();
    void scheduleAssignmentsSave();
    void savePreferences();
    void schedulePreferencesSave();

    // One new assignment per running application without one, written and
    // logged ("pet_added", source "auto_attach") one at a time.
    void autoAttachRunningApps(const std::vector<RunningApp>& apps);
    PetKind nextAutoAttachPetKind() const;
    // Logs "pet_removed" with `source` ("pet_menu" or "manual").
    void removeAssignment(const platform::Uuid& id, const std::string& source);
    // A frame that is not storable (isStorableFrame) is ignored.
    void updateFrame(const platform::Uuid& id, const platform::Rect& frame);
    void updatePetKind(const platform::Uuid& id, PetKind petKind);
    void updateCategory(const platform::Uuid& id, AppCategory category);
    // Clamps to 0.55...2.0 and rescales every frame about its centre; true
    // when something changed. Both keys are written through the debounce.
    bool setPetSizeScale(double scale);
    // Lines every pet up along `edge` of `visibleFrame` (default: the main
    // screen's visible frame, else (80, 80, 1200, 760)); a pet that would
    // fall outside it is fitted into it (fittedInto).
    void arrangePets(ArrangementEdge edge, std::optional<platform::Rect> visibleFrame = std::nullopt);
    void recordFocusClick(const platform::Uuid& id);
    // Counts a launch when the application changes from not running to
    // running; writes only when the flag changes.
    void updateRunningState(const std::string& bundleIdentifier, bool isRunning);

    // Calls `changed` after every saveAssignments() for as long as `owner`
    // lives; an observer may read the store but not change it.
    void observeAssignments(std::weak_ptr<const void> owner, std::function<void()> changed);

private:
    struct AssignmentsObserver {
        std::weak_ptr<const void> owner;
        std::function<void()> changed;
    };

    // What was found under a key that did not decode, kept until it has been
    // copied aside.
    struct UnreadableValue {
        std::optional<platform::PropertyValue> original;
    };

    AssignmentStore(std::shared_ptr<platform::UserDefaults> defaults, platform::QueueRef mainQueue,
                    ScreenVisibleFrames screenVisibleFrames);

    std::vector<platform::Rect> visibleFrames() const;
    // `frame` moved the least to lie inside `visibleFrame` with the arranging
    // margin to spare; when it is larger, its top-left corner goes there.
    static platform::Rect fittedInto(const platform::Rect& visibleFrame, const platform::Rect& frame);

    AppAssignment* find(const platform::Uuid& id);
    // Where a new pet goes when `n` pets come before it: side by side from (160, 180), one pet width apart, at
    // the current pet size.
    CodableRect newPetFrame(std::size_t n) const;
    // Writes `json` under `key`, first copying an unreadable original aside.
    void store(const char* key, UnreadableValue& unreadable, const std::string& json);
    void schedule(platform::WorkItemRef& pending, void (AssignmentStore::*save)());
    void notifyAssignmentsObservers();

    std::shared_ptr<platform::UserDefaults> defaults_;
    platform::QueueRef mainQueue_;
    ScreenVisibleFrames screenVisibleFrames_;
    platform::WorkItemRef pendingAssignmentsSaveTask_;
    platform::WorkItemRef pendingPreferencesSaveTask_;
    UnreadableValue unreadableAssignments_;
    UnreadableValue unreadablePreferences_;
    std::vector<AssignmentsObserver> assignmentsObservers_;
};

}  // namespace Mossbridge
