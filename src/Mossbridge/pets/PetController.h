#pragma once
// PetController: exactly one pet panel (PetWindow) for every assignment
// whose application is running, and none for any other. The coordinator
// runs sync() after every refresh and after every media or calendar change;
// the pass picks each pet's animation state, creates, updates, shows and
// hides the panels, and keeps the store's running-state bookkeeping.
// Everything a pet asks for arrives through the pet windows' callbacks and
// becomes calls on the store, the running-application service and usage
// events; media commands, the calendar command and notification clearing go
// one level further up through the three callbacks below.
//
// Main thread only. The controller holds the store and the service for its
// life; the callbacks it installs on pet windows hold the controller, the
// store and the service weakly and do nothing (or answer a fallback) once
// they are gone. Every panel lives on `windowServer` and schedules its
// delayed work on `dispatcher`'s main queue.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "Mossbridge/model/AppAssignment.h"
#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/model/AssignmentStore.h"
#include "Mossbridge/model/PetAnimationState.h"
#include "Mossbridge/system/RunningAppService.h"
#include "platform/core/Dispatch.h"
#include "platform/core/Uuid.h"
#include "platform/desktop/Accessibility.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

class PetWindow;

class PetController : public std::enable_shared_from_this<PetController> {
public:
    struct Environment {
        platform::WindowServer* windowServer = nullptr;  // required; outlives the controller
        platform::Dispatcher* dispatcher = nullptr;      // required; its main queue and clock
        // The trust check with the prompt ("Grant Accessibility Access...");
        // may be null, then the request does nothing.
        std::shared_ptr<platform::Accessibility> accessibility;
    };

    // What the last sync pass did.
    struct SyncCounts {
        int shown = 0;
        int hidden = 0;
        int created = 0;
        int updated = 0;
        bool operator==(const SyncCounts&) const = default;
    };

    static constexpr double slowSyncMilliseconds = 4.0;

    static std::shared_ptr<PetController> create(std::shared_ptr<AssignmentStore> store,
                                                 std::shared_ptr<RunningAppService> runningApps,
                                                 Environment environment);
    ~PetController();
    PetController(const PetController&) = delete;
    PetController& operator=(const PetController&) = delete;

    void sync(const AppStatusMap& statuses);
    // The player bubble on the visible pets of `bundleIdentifier`, from the
    // status each last got from a sync; stopped or no playback: nothing.
    void showMediaPlayback(const std::string& bundleIdentifier);
    // The calendar bubble on the visible pets of calendar-category
    // assignments whose last status holds an event.
    void showCalendarEvents();

    std::function<void(const std::string& bundleIdentifier, MediaPlaybackCommand command)> onMediaCommandRequested;
    std::function<void(CalendarEventCommand command)> onCalendarCommandRequested;
    std::function<void(const std::string& bundleIdentifier, std::int64_t recordID)> onNotificationsClearRequested;

    const std::shared_ptr<AssignmentStore>& store() const { return store_; }
    const std::shared_ptr<RunningAppService>& runningApps() const { return runningApps_; }
    // The pet windows by assignment id.
    const std::map<platform::Uuid, std::shared_ptr<PetWindow>>& windows() const { return windows_; }
    std::shared_ptr<PetWindow> window(const platform::Uuid& assignmentID) const;
    const SyncCounts& lastSyncCounts() const { return lastSyncCounts_; }

    // --- The rules of the pass ---
    // The twelve bundle identifiers of work applications (exact match).
    static const std::set<std::string>& workAppBundleIdentifiers();
    // Some status plays music (playback playing, or activity "Playing:...").
    static bool isAnyMusicPlaying(const AppStatusMap& statuses);
    // The lowercased identifier contains one of the work and chat keywords.
    static bool isWorkOrChatKeyword(const std::string& bundleIdentifier);
    static bool isWorkOrChatApp(const AppAssignment& assignment);
    static PetAnimationState resolveAnimationState(const AppAssignment& assignment, bool frontmost,
                                                   const AppStatus& status, bool partyMode);
    // `state` narrowed to one the pet kind can play.
    static PetAnimationState playableAnimationState(PetKind kind, PetAnimationState state);

    // Creates or updates the window of one running assignment and orders it
    // front when it is not visible; true when it created the window.
    bool syncWindow(const AppAssignment& assignment, const AppStatusMap& statuses, bool partyMode);

private:
    PetController(std::shared_ptr<AssignmentStore> store, std::shared_ptr<RunningAppService> runningApps,
                  Environment environment);

    void installCallbacks(PetWindow& window);
    // The reply bubble of a request: speaking animation and a message.
    void say(const platform::Uuid& assignmentID, const std::string& message);

    // Pet-window requests.
    void focusRequested(const platform::Uuid& id, const std::string& bundleIdentifier);
    void windowFocusRequested(const platform::Uuid& id, const std::string& bundleIdentifier, int index);
    void closePetRequested(const platform::Uuid& id);
    void quitAppRequested(const platform::Uuid& id, const std::string& bundleIdentifier);

    std::shared_ptr<AssignmentStore> store_;
    std::shared_ptr<RunningAppService> runningApps_;
    Environment environment_;
    std::map<platform::Uuid, std::shared_ptr<PetWindow>> windows_;
    SyncCounts lastSyncCounts_;
};

}  // namespace Mossbridge
