// Loading and writing the store's two keys, and the debounce of writes.

#include "Mossbridge/model/AssignmentStore.h"

#include <algorithm>

#include "Mossbridge/model/DiagnosticLine.h"

namespace Mossbridge {

namespace {

// The JSON text stored under a key, or none when the value is absent.
// `readable` turns false for a value that is not data at all.
std::optional<std::string> storedText(const std::optional<platform::PropertyValue>& value, bool& readable) {
    readable = true;
    if (!value) return std::nullopt;
    const platform::PropertyData* data = value->asData();
    if (!data) {
        readable = false;
        return std::nullopt;
    }
    return std::string(data->begin(), data->end());
}

// Reads `key`: the decoded value, or none (absent or unreadable); an
// unreadable original is remembered so that it can be copied aside.
template <typename T, typename Decode>
std::optional<T> readKey(const platform::UserDefaults& defaults, const char* key,
                         std::optional<platform::PropertyValue>& unreadableOriginal, Decode decode) {
    unreadableOriginal.reset();
    const auto value = defaults.object(key);
    bool readable = true;
    const auto text = storedText(value, readable);
    if (text) {
        auto decoded = decode(*text);
        if (decoded.ok()) return std::move(decoded.value());
        readable = false;
    }
    if (!readable) unreadableOriginal = value;
    return std::nullopt;
}

std::string_view remedyText(StoredPetRemedy remedy) {
    switch (remedy) {
        case StoredPetRemedy::leftOut: return "left out";
        case StoredPetRemedy::placedAnew: return "placed as a new pet";
        case StoredPetRemedy::movedOntoScreen: return "moved onto the main screen";
    }
    return {};
}

}  // namespace

std::shared_ptr<AssignmentStore> AssignmentStore::create(std::shared_ptr<platform::UserDefaults> defaults,
                                                         platform::QueueRef mainQueue,
                                                         ScreenVisibleFrames screenVisibleFrames) {
    std::shared_ptr<AssignmentStore> store(
        new AssignmentStore(std::move(defaults), std::move(mainQueue), std::move(screenVisibleFrames)));
    store->loadPreferences();
    store->loadAssignments();
    return store;
}

AssignmentStore::AssignmentStore(std::shared_ptr<platform::UserDefaults> defaults, platform::QueueRef mainQueue,
                                 ScreenVisibleFrames screenVisibleFrames)
    : defaults_(std::move(defaults)),
      mainQueue_(std::move(mainQueue)),
      screenVisibleFrames_(std::move(screenVisibleFrames)) {}

std::vector<platform::Rect> AssignmentStore::visibleFrames() const {
    return screenVisibleFrames_ ? screenVisibleFrames_() : std::vector<platform::Rect>{};
}

void AssignmentStore::loadAssignments() {
    const std::vector<platform::Rect> screens = visibleFrames();
    const FrameOnScreen onScreen = [&screens](const CodableRect& frame) {
        return screens.empty() || std::any_of(screens.begin(), screens.end(), [&](const platform::Rect& screen) {
                   return intersects(screen, frame.rect());
               });
    };
    auto loaded = readKey<DecodedAssignmentList>(*defaults_, defaultsKey, unreadableAssignments_.original,
                                                 [&](const std::string& text) {
                                                     return decodeAssignments(text, onScreen);
                                                 });
    assignments = loaded ? std::move(loaded->assignments) : std::vector<AppAssignment>{};
    if (!loaded || loaded->problems.empty()) return;
    for (const AssignmentRecordProblem& record : loaded->problems) {
        if (record.remedy == StoredPetRemedy::placedAnew) assignments[record.index].frame = newPetFrame(record.index);
        if (record.remedy == StoredPetRemedy::movedOntoScreen) {
            CodableRect& frame = assignments[record.index].frame;
            frame = CodableRect(fittedInto(screens.front(), frame.rect()));
        }
        printErrorLine("stored pet of " + record.pet + ", " + std::string(remedyText(record.remedy)) + ": " +
                       record.problem);
    }
    // The next write would lose what was left out or refused: the stored list goes aside first.
    unreadableAssignments_.original = defaults_->object(defaultsKey);
}

void AssignmentStore::loadPreferences() {
    auto loaded = readKey<DecodedPreferences>(*defaults_, preferencesKey, unreadablePreferences_.original,
                                              decodePreferences);
    preferences = loaded ? loaded->preferences : MossbridgePreferences{};
    if (!loaded || loaded->problems.empty()) return;
    for (const PreferenceProblem& member : loaded->problems) {
        printErrorLine("stored " + member.member + ": " + member.problem);
    }
    // Loading writes nothing; the next write would put the defaults in place of what was stored, so the stored
    // object goes aside first.
    unreadablePreferences_.original = defaults_->object(preferencesKey);
}

// Both writes below ignore a failed file write: the defaults keep the value in
// memory and write it out with their next successful change.
void AssignmentStore::store(const char* key, UnreadableValue& unreadable, const std::string& json) {
    if (unreadable.original) {
        const std::string backupKey = std::string(key) + ".unreadable";
        (void)defaults_->set(backupKey, *unreadable.original);
        unreadable.original.reset();
        printErrorLine("stored " + std::string(key) + " could not be read; kept a copy under " + backupKey);
    }
    (void)defaults_->set(key, platform::PropertyData(json.begin(), json.end()));
}

void AssignmentStore::saveAssignments() {
    if (pendingAssignmentsSaveTask_) pendingAssignmentsSaveTask_->cancel();
    pendingAssignmentsSaveTask_.reset();
    const auto encoded = encodeAssignments(assignments);
    if (encoded) store(defaultsKey, unreadableAssignments_, encoded.value());
    else printErrorLine("not saving " + std::string(defaultsKey) + ": " + encoded.error());
    notifyAssignmentsObservers();
}

void AssignmentStore::observeAssignments(std::weak_ptr<const void> owner, std::function<void()> changed) {
    assignmentsObservers_.push_back({std::move(owner), std::move(changed)});
}

void AssignmentStore::notifyAssignmentsObservers() {
    std::erase_if(assignmentsObservers_, [](const AssignmentsObserver& o) { return o.owner.expired(); });
    // A copy: an observer may add another while being told.
    const std::vector<AssignmentsObserver> observers = assignmentsObservers_;
    for (const AssignmentsObserver& observer : observers) {
        if (const auto alive = observer.owner.lock()) observer.changed();
    }
}

void AssignmentStore::savePreferences() {
    if (pendingPreferencesSaveTask_) pendingPreferencesSaveTask_->cancel();
    pendingPreferencesSaveTask_.reset();
    const auto encoded = encodePreferences(preferences);
    if (!encoded) {
        printErrorLine("not saving " + std::string(preferencesKey) + ": " + encoded.error());
        return;
    }
    store(preferencesKey, unreadablePreferences_, encoded.value());
}

void AssignmentStore::schedule(platform::WorkItemRef& pending, void (AssignmentStore::*save)()) {
    if (pending) pending->cancel();
    std::weak_ptr<AssignmentStore> weakSelf = weak_from_this();
    pending = std::make_shared<platform::WorkItem>([weakSelf, save] {
        if (const auto self = weakSelf.lock()) ((*self).*save)();
    });
    mainQueue_->after(saveDebounceSeconds, pending);
}

void AssignmentStore::scheduleAssignmentsSave() {
    schedule(pendingAssignmentsSaveTask_, &AssignmentStore::saveAssignments);
}

void AssignmentStore::schedulePreferencesSave() {
    schedule(pendingPreferencesSaveTask_, &AssignmentStore::savePreferences);
}

}  // namespace Mossbridge
