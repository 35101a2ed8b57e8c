#include "Mossbridge/model/AppStatus.h"

#include <cmath>
#include <cstdint>

namespace Mossbridge {

std::string_view rawValue(MediaPlaybackState state) {
    switch (state) {
        case MediaPlaybackState::playing: return "playing";
        case MediaPlaybackState::paused: return "paused";
        case MediaPlaybackState::stopped: return "stopped";
    }
    return "stopped";
}

std::optional<MediaPlaybackState> mediaPlaybackStateFromRawValue(std::string_view raw) {
    for (auto state : {MediaPlaybackState::playing, MediaPlaybackState::paused, MediaPlaybackState::stopped}) {
        if (rawValue(state) == raw) return state;
    }
    return std::nullopt;
}

std::string_view caseName(MediaPlaybackCommand command) {
    switch (command) {
        case MediaPlaybackCommand::previous: return "previous";
        case MediaPlaybackCommand::playPause: return "playPause";
        case MediaPlaybackCommand::next: return "next";
    }
    return "next";
}

std::string calendarActivityText(const CalendarEventInfo& event, const platform::Clock& clock) {
    const double now = clock.now();
    if (event.startDate <= now && event.endDate > now) return "In event: " + event.title;

    // Whole minutes until the start, rounded up. Computed in floating point so
    // that a far-off or malformed date cannot overflow the integer.
    const double minutes = std::ceil((event.startDate - now) / 60.0);
    if (minutes > 1) {
        const auto shown = minutes >= 9.0e18 ? INT64_MAX : static_cast<std::int64_t>(minutes);
        return "Event in " + std::to_string(shown) + "m: " + event.title;
    }
    return "Event now: " + event.title;
}

std::optional<std::string> mediaActivityText(const MediaPlaybackInfo& info) {
    if (!info.title || info.title->empty()) {
        if (info.state == MediaPlaybackState::playing) return std::string("Playing");
        return std::nullopt;
    }
    std::string text = *info.title;
    if (info.artist && !info.artist->empty()) text += " - " + *info.artist;
    switch (info.state) {
        case MediaPlaybackState::playing: return "Playing: " + text;
        case MediaPlaybackState::paused: return "Paused: " + text;
        case MediaPlaybackState::stopped: return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace Mossbridge
