// Changes to single assignments, automatic attaching and the counters.

#include <algorithm>
#include <limits>

#include "Mossbridge/model/AssignmentStore.h"
#include "Mossbridge/model/PetSize.h"
#include "Mossbridge/model/UsageEvents.h"

namespace Mossbridge {

namespace {

constexpr double kAutoAttachOriginX = 160;
constexpr double kAutoAttachOriginY = 180;

// Counters loaded from storage may already sit at the top of their range.
void increment(std::int64_t& counter) {
    if (counter < std::numeric_limits<std::int64_t>::max()) counter += 1;
}

}  // namespace

AppAssignment* AssignmentStore::find(const platform::Uuid& id) {
    const auto found = std::find_if(assignments.begin(), assignments.end(),
                                    [&](const AppAssignment& assignment) { return assignment.id == id; });
    return found == assignments.end() ? nullptr : &*found;
}

CodableRect AssignmentStore::newPetFrame(std::size_t n) const {
    // A tiny stored pet size loads as it stands, but a pet placed with it is
    // never narrower than a frame can be stored with: the list stays savable.
    const platform::Size scaled = petSize(preferences.petSizeScale);
    const platform::Size size{std::max(scaled.width, kSmallestFrameSide), std::max(scaled.height, kSmallestFrameSide)};
    return CodableRect(kAutoAttachOriginX + static_cast<double>(n) * size.width, kAutoAttachOriginY, size.width,
                       size.height);
}

PetKind AssignmentStore::nextAutoAttachPetKind() const {
    const auto kinds = allPetKinds();
    if (kinds.empty()) return PetKind::foxcat;
    return kinds[assignments.size() % kinds.size()];
}

void AssignmentStore::autoAttachRunningApps(const std::vector<RunningApp>& apps) {
    for (const RunningApp& app : apps) {
        const bool assigned = std::any_of(assignments.begin(), assignments.end(), [&](const AppAssignment& a) {
            return a.bundleIdentifier == app.bundleIdentifier;
        });
        if (assigned) continue;
        AppAssignment assignment;
        assignment.id = platform::Uuid::random();
        assignment.bundleIdentifier = app.bundleIdentifier;
        assignment.appName = app.name;
        assignment.petKind = nextAutoAttachPetKind();
        assignment.category = inferCategory(app.bundleIdentifier, app.name);
        assignment.frame = newPetFrame(assignments.size());
        assignments.push_back(assignment);
        saveAssignments();
        logPetAdded(assignment, "auto_attach");
    }
}

void AssignmentStore::removeAssignment(const platform::Uuid& id, const std::string& source) {
    AppAssignment* found = find(id);
    if (!found) return;
    const AppAssignment removed = *found;
    assignments.erase(assignments.begin() + (found - assignments.data()));
    saveAssignments();
    logPetRemoved(removed, source);
}

void AssignmentStore::updateFrame(const platform::Uuid& id, const platform::Rect& frame) {
    if (!isStorableFrame(CodableRect(frame))) return;
    AppAssignment* found = find(id);
    if (!found) return;
    found->frame = CodableRect(frame);
    saveAssignments();
}

void AssignmentStore::updatePetKind(const platform::Uuid& id, PetKind petKind) {
    AppAssignment* found = find(id);
    if (!found) return;
    found->petKind = petKind;
    saveAssignments();
}

void AssignmentStore::updateCategory(const platform::Uuid& id, AppCategory category) {
    AppAssignment* found = find(id);
    if (!found) return;
    found->category = category;
    saveAssignments();
}

void AssignmentStore::recordFocusClick(const platform::Uuid& id) {
    AppAssignment* found = find(id);
    if (!found) return;
    increment(found->focusClicks);
    saveAssignments();
}

void AssignmentStore::updateRunningState(const std::string& bundleIdentifier, bool isRunning) {
    const auto found = std::find_if(assignments.begin(), assignments.end(), [&](const AppAssignment& assignment) {
        return assignment.bundleIdentifier == bundleIdentifier;
    });
    if (found == assignments.end() || found->lastSeenRunning == isRunning) return;
    if (isRunning) increment(found->launchCount);
    found->lastSeenRunning = isRunning;
    saveAssignments();
}

}  // namespace Mossbridge
