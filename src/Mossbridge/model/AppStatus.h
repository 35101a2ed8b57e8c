#pragma once
// What the system knows about running applications, carried as plain values
// from the services through the coordinator to the pets. Nothing here is
// persisted. Dates are wall-clock seconds since 1970 (platform::Clock::now()).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Clock.h"
#include "platform/drawing/Image.h"

namespace Mossbridge {

struct AppNotificationItem {
    std::int64_t recordID = 0;
    std::string title;
    std::optional<std::string> subtitle;
    std::string body;
    double deliveredDate = 0;
    bool operator==(const AppNotificationItem&) const = default;
};

enum class MediaPlaybackState { playing, paused, stopped };

std::string_view rawValue(MediaPlaybackState state);
// Exact match of "playing", "paused" or "stopped"; anything else gives none.
[[nodiscard]] std::optional<MediaPlaybackState> mediaPlaybackStateFromRawValue(std::string_view raw);

struct MediaPlaybackInfo {
    std::string bundleIdentifier;
    std::string appName;
    MediaPlaybackState state = MediaPlaybackState::stopped;
    std::optional<std::string> title;
    std::optional<std::string> artist;
    std::optional<std::string> album;
    bool operator==(const MediaPlaybackInfo&) const = default;
};

struct CalendarEventInfo {
    std::string title;
    double startDate = 0;
    double endDate = 0;
    std::optional<std::string> calendarTitle;
    std::optional<std::string> location;
    bool isAllDay = false;
    bool operator==(const CalendarEventInfo&) const = default;
};

// Requests from a pet to the monitors; usable as keys of std::map and
// std::unordered_map.
enum class MediaPlaybackCommand { previous, playPause, next };
enum class CalendarEventCommand { openCalendar };

// "previous", "playPause" or "next", as diagnostics name the command.
std::string_view caseName(MediaPlaybackCommand command);

struct AppStatus {
    std::optional<std::string> badgeText;
    std::optional<std::string> activityText;
    std::optional<MediaPlaybackInfo> mediaPlayback;
    std::optional<CalendarEventInfo> calendarEvent;
    std::vector<AppNotificationItem> notifications;
    std::optional<AppNotificationItem> newNotification;

    // Every optional absent, no notifications.
    static const AppStatus empty;

    bool operator==(const AppStatus&) const = default;
};

inline const AppStatus AppStatus::empty{};

// Statuses keyed by bundle identifier.
using AppStatusMap = std::map<std::string, AppStatus>;

struct RunningApp {
    std::string bundleIdentifier;
    std::string name;
    std::int32_t processIdentifier = 0;
    platform::ImageRef icon;  // null when the application has no icon
};

struct AppStatusTarget {
    std::string bundleIdentifier;
    std::string name;
    std::int32_t processIdentifier = 0;
};

struct AppWindowInfo {
    int index = 0;
    std::string title;
    std::optional<int> axIndex;
    std::optional<std::uint32_t> cgWindowID;
};

struct AppWindowPreviewInfo {
    int index = 0;
    std::string title;
    platform::ImageRef image;  // thumbnail, else the application's icon, else null
};

struct AppContextMenuInfo {
    std::vector<AppWindowInfo> windows;
    bool accessibilityTrusted = false;
    std::optional<std::string> message;
};

// "In event: <title>", "Event in <m>m: <title>" or "Event now: <title>",
// depending on where the clock's current time lies relative to the event.
std::string calendarActivityText(const CalendarEventInfo& event,
                                 const platform::Clock& clock = platform::systemClock());

// "Playing: <title>[ - <artist>]", "Paused: ...", "Playing" for a playing
// player without a title, or none.
std::optional<std::string> mediaActivityText(const MediaPlaybackInfo& info);

}  // namespace Mossbridge
