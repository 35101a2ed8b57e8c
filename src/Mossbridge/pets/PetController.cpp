#include "Mossbridge/pets/PetController.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "Mossbridge/model/PerformanceLog.h"
#include "Mossbridge/model/UsageEvents.h"
#include "Mossbridge/pets/PetWindow.h"
#include "Mossbridge/pets/SpriteSheet.h"

namespace Mossbridge {

namespace {

constexpr std::array<std::string_view, 16> workAndChatKeywords = {
    "terminal", "xcode", "code",  "cursor",  "jetbrains", "figma",    "notion", "obsidian",
    "pages",    "word",  "slack", "discord", "telegram",  "whatsapp", "teams",  "messages",
};

constexpr std::string_view playingPrefix = "Playing:";

bool isPlaying(const AppStatus& status) {
    if (status.mediaPlayback && status.mediaPlayback->state == MediaPlaybackState::playing) return true;
    return status.activityText && status.activityText->starts_with(playingPrefix);
}

bool hasText(const std::optional<std::string>& text) { return text && !text->empty(); }

}  // namespace

std::shared_ptr<PetController> PetController::create(std::shared_ptr<AssignmentStore> store,
                                                     std::shared_ptr<RunningAppService> runningApps,
                                                     Environment environment) {
    return std::shared_ptr<PetController>(
        new PetController(std::move(store), std::move(runningApps), std::move(environment)));
}

PetController::PetController(std::shared_ptr<AssignmentStore> store, std::shared_ptr<RunningAppService> runningApps,
                             Environment environment)
    : store_(std::move(store)), runningApps_(std::move(runningApps)), environment_(std::move(environment)) {}

PetController::~PetController() = default;

std::shared_ptr<PetWindow> PetController::window(const platform::Uuid& assignmentID) const {
    auto it = windows_.find(assignmentID);
    return it == windows_.end() ? nullptr : it->second;
}

// --- Rules ---

const std::set<std::string>& PetController::workAppBundleIdentifiers() {
    static const std::set<std::string> identifiers = {
        "com.apple.dt.Xcode",  "com.apple.Terminal",   "com.googlecode.iterm2",         "com.microsoft.VSCode",
        "com.todesktop.230313mzl4w4u92", "com.figma.Desktop", "com.apple.Notes",        "com.apple.TextEdit",
        "com.apple.iWork.Pages", "com.microsoft.Word", "com.microsoft.Excel",           "com.microsoft.Powerpoint",
    };
    return identifiers;
}

bool PetController::isAnyMusicPlaying(const AppStatusMap& statuses) {
    return std::any_of(statuses.begin(), statuses.end(), [](const auto& entry) { return isPlaying(entry.second); });
}

bool PetController::isWorkOrChatKeyword(const std::string& bundleIdentifier) {
    std::string lowered = bundleIdentifier;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::any_of(workAndChatKeywords.begin(), workAndChatKeywords.end(),
                       [&](std::string_view keyword) { return lowered.find(keyword) != std::string::npos; });
}

bool PetController::isWorkOrChatApp(const AppAssignment& assignment) {
    if (assignment.category == AppCategory::chat || assignment.category == AppCategory::work) return true;
    if (workAppBundleIdentifiers().contains(assignment.bundleIdentifier)) return true;
    return isWorkOrChatKeyword(assignment.bundleIdentifier);
}

PetAnimationState PetController::resolveAnimationState(const AppAssignment& assignment, bool frontmost,
                                                       const AppStatus& status, bool partyMode) {
    if (isPlaying(status)) return PetAnimationState::music;
    if (frontmost) {
        if (isWorkOrChatApp(assignment)) return PetAnimationState::work;
        if (partyMode) return PetAnimationState::music;
    } else if (partyMode) {
        return PetAnimationState::music;
    }
    if (assignment.category == AppCategory::calendar && status.calendarEvent) return PetAnimationState::error;
    if (hasText(status.badgeText)) return PetAnimationState::waiting;
    if (status.newNotification) return PetAnimationState::waiting;
    return PetAnimationState::idle;
}

PetAnimationState PetController::playableAnimationState(PetKind kind, PetAnimationState state) {
    if (const std::optional<PetSpriteManifest> manifest = spriteManifest(kind)) {
        // The grid of the sheet the view will cut; a sheet that cannot be
        // read leaves the choice to the view's own fallbacks.
        const platform::ImageRef sheet = loadSpriteSheetImage(manifest->sheetName);
        const platform::BitmapRef bitmap = sheet ? sheet->bitmap() : nullptr;
        if (!bitmap) return state;
        const auto grid = spriteSheetMetadata(manifest->sheetName, *bitmap, manifest->columnsForSheet(std::nullopt));
        if (!grid) return state;
        return manifest->playableState(state, grid->rows, grid->columns);
    }
    const auto fallbacks = fallbackStates(state);
    return fallbacks.empty() ? PetAnimationState::idle : fallbacks.front();
}

// --- Sync pass ---

void PetController::sync(const AppStatusMap& statuses) {
    const std::uint64_t start = environment_.dispatcher->clock().monotonicNanos();
    if (store_->preferences.autoAttachAllRunningApps) store_->autoAttachRunningApps(runningApps_->apps());

    std::set<platform::Uuid> current;
    for (const AppAssignment& assignment : store_->assignments) current.insert(assignment.id);
    for (auto it = windows_.begin(); it != windows_.end();) {
        if (current.contains(it->first)) {
            ++it;
            continue;
        }
        std::shared_ptr<PetWindow> closing = it->second;
        it = windows_.erase(it);
        closing->close();
    }

    const bool partyMode = store_->preferences.partyModeWhenMusicPlays && isAnyMusicPlaying(statuses);
    SyncCounts counts;
    // A copy: the store may change under the pass (a frame save flushed by
    // an order-out writes the store).
    const std::vector<AppAssignment> assignments = store_->assignments;
    for (const AppAssignment& assignment : assignments) {
        if (runningApps_->app(assignment.bundleIdentifier)) {
            store_->updateRunningState(assignment.bundleIdentifier, true);
            // The pass works on the store's assignment as it is now.
            const AppAssignment* fresh = nullptr;
            for (const AppAssignment& stored : store_->assignments)
                if (stored.id == assignment.id) fresh = &stored;
            const AppAssignment latest = fresh ? *fresh : assignment;
            if (syncWindow(latest, statuses, partyMode)) ++counts.created;
            else ++counts.updated;
            ++counts.shown;
        } else {
            store_->updateRunningState(assignment.bundleIdentifier, false);
            if (auto existing = window(assignment.id)) existing->orderOut();
            ++counts.hidden;
        }
    }
    lastSyncCounts_ = counts;

    const double elapsedMs = double(environment_.dispatcher->clock().monotonicNanos() - start) / 1'000'000.0;
    if (elapsedMs > slowSyncMilliseconds && isPerformanceLoggingEnabled()) {
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.1fms", elapsedMs);
        std::string details = std::string(ms) + " assignments=" + std::to_string(assignments.size()) +
                              " shown=" + std::to_string(counts.shown) + " hidden=" + std::to_string(counts.hidden) +
                              " created=" + std::to_string(counts.created) +
                              " updated=" + std::to_string(counts.updated) +
                              " statuses=" + std::to_string(statuses.size());
        logPerformanceEvent("pets.sync", [&] { return details; });
    }
}

bool PetController::syncWindow(const AppAssignment& assignment, const AppStatusMap& statuses, bool partyMode) {
    const auto& frontmostID = runningApps_->frontmostBundleIdentifier();
    const bool frontmost = frontmostID && *frontmostID == assignment.bundleIdentifier;
    auto found = statuses.find(assignment.bundleIdentifier);
    const AppStatus& status = found == statuses.end() ? AppStatus::empty : found->second;
    const PetAnimationState state =
        playableAnimationState(assignment.petKind, resolveAnimationState(assignment, frontmost, status, partyMode));
    const std::optional<RunningApp> app = runningApps_->app(assignment.bundleIdentifier);

    PetWindow::Contents contents{assignment,
                                 status,
                                 state,
                                 frontmost,
                                 store_->preferences.displayBadges,
                                 app ? app->icon : nullptr,
                                 store_->preferences.appIconSizeScale};
    if (auto existing = window(assignment.id)) {
        existing->update(std::move(contents));
        if (!existing->isVisible()) existing->orderFrontRegardless();
        return false;
    }
    auto created = PetWindow::make(*environment_.windowServer, *environment_.dispatcher, std::move(contents));
    installCallbacks(*created);
    windows_[assignment.id] = created;
    created->orderFrontRegardless();
    return true;
}

// --- Media and calendar pushes ---

void PetController::showMediaPlayback(const std::string& bundleIdentifier) {
    for (const AppAssignment& assignment : store_->assignments) {
        if (assignment.bundleIdentifier != bundleIdentifier) continue;
        auto petWindow = window(assignment.id);
        if (!petWindow || !petWindow->isVisible()) continue;
        const auto& playback = petWindow->status().mediaPlayback;
        if (!playback || playback->state == MediaPlaybackState::stopped) continue;
        petWindow->petView().showBubbleMessage();
        petWindow->speechWindow().showMediaPlayer(*playback, petWindow->frame());
    }
}

void PetController::showCalendarEvents() {
    for (const AppAssignment& assignment : store_->assignments) {
        if (assignment.category != AppCategory::calendar) continue;
        auto petWindow = window(assignment.id);
        if (!petWindow || !petWindow->isVisible()) continue;
        const auto& event = petWindow->status().calendarEvent;
        if (!event) continue;
        petWindow->petView().showBubbleMessage();
        petWindow->speechWindow().showCalendarEvent(*event, petWindow->frame());
    }
}

// --- Pet window requests ---

void PetController::installCallbacks(PetWindow& petWindow) {
    std::weak_ptr<PetController> weak = weak_from_this();
    std::weak_ptr<AssignmentStore> weakStore = store_;
    std::weak_ptr<RunningAppService> weakService = runningApps_;

    petWindow.onMoved = [weakStore](const platform::Uuid& id, const platform::Rect& frame) {
        if (auto store = weakStore.lock()) store->updateFrame(id, frame);
    };
    petWindow.onFocusRequested = [weak](const platform::Uuid& id, const std::string& bundleIdentifier) {
        if (auto self = weak.lock()) self->focusRequested(id, bundleIdentifier);
    };
    petWindow.onWindowFocusRequested = [weak](const platform::Uuid& id, const std::string& bundleIdentifier,
                                              int index) {
        if (auto self = weak.lock()) self->windowFocusRequested(id, bundleIdentifier, index);
    };
    petWindow.onContextMenuInfoRequested = [weakService](const std::string& bundleIdentifier) {
        if (auto service = weakService.lock()) return service->contextMenuInfo(bundleIdentifier, false);
        return AppContextMenuInfo{{}, false, std::string("Mossbridge is not ready.")};
    };
    petWindow.onWindowPreviewsRequested = [weakService](const std::string& bundleIdentifier) {
        if (auto service = weakService.lock()) return service->windowPreviews(bundleIdentifier);
        return std::vector<AppWindowPreviewInfo>{};
    };
    petWindow.onAccessibilityAccessRequested = [weak] {
        auto self = weak.lock();
        if (self && self->environment_.accessibility)
            (void)self->environment_.accessibility->isProcessTrustedWithPrompt(true);  // the answer comes later
    };
    petWindow.onClosePetRequested = [weak](const platform::Uuid& id) {
        if (auto self = weak.lock()) self->closePetRequested(id);
    };
    petWindow.onQuitAppRequested = [weak](const platform::Uuid& id, const std::string& bundleIdentifier) {
        if (auto self = weak.lock()) self->quitAppRequested(id, bundleIdentifier);
    };
    petWindow.onMediaCommandRequested = [weak](const std::string& bundleIdentifier, MediaPlaybackCommand command) {
        auto self = weak.lock();
        if (self && self->onMediaCommandRequested) self->onMediaCommandRequested(bundleIdentifier, command);
    };
    petWindow.onCalendarCommandRequested = [weak](CalendarEventCommand command) {
        auto self = weak.lock();
        if (self && self->onCalendarCommandRequested) self->onCalendarCommandRequested(command);
    };
    petWindow.onNotificationsClearRequested = [weak](const std::string& bundleIdentifier, std::int64_t recordID) {
        auto self = weak.lock();
        if (self && self->onNotificationsClearRequested) self->onNotificationsClearRequested(bundleIdentifier, recordID);
    };
}

void PetController::say(const platform::Uuid& assignmentID, const std::string& message) {
    auto petWindow = window(assignmentID);
    if (!petWindow || petWindow->isClosed()) return;
    petWindow->petView().showBubbleMessage();
    petWindow->speechWindow().showMessage(message, petWindow->frame());
}

void PetController::focusRequested(const platform::Uuid& id, const std::string& bundleIdentifier) {
    store_->recordFocusClick(id);
    for (const AppAssignment& assignment : store_->assignments) {
        if (assignment.id != id) continue;
        logUsageEvent("pet_click", analyticsParameters(assignment, {}));
        break;
    }
    const AppFocusResult result = runningApps_->focusTopWindow(bundleIdentifier);
    if (!result.raised && !result.opened) say(id, result.message);
}

void PetController::windowFocusRequested(const platform::Uuid& id, const std::string& bundleIdentifier, int index) {
    for (const AppAssignment& assignment : store_->assignments) {
        if (assignment.id != id) continue;
        logWindowPreviewClick(assignment, index);
        break;
    }
    const AppFocusResult result = runningApps_->raiseWindow(bundleIdentifier, index);
    if (!result.raised) say(id, result.message);
}

void PetController::closePetRequested(const platform::Uuid& id) {
    // Closed first, so that a pending frame save reaches the store while
    // the assignment still exists.
    if (auto petWindow = window(id)) petWindow->close();
    windows_.erase(id);
    store_->removeAssignment(id, "pet_menu");
}

void PetController::quitAppRequested(const platform::Uuid& id, const std::string& bundleIdentifier) {
    const bool accepted = runningApps_->quitApp(bundleIdentifier);
    say(id, accepted ? "I asked it to quit." : "I couldn't quit that app.");
}

}  // namespace Mossbridge
