#include "Mossbridge/system/MediaPlaybackMonitor.h"

#include <array>
#include <charconv>

#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

struct Player {
    const char* notificationName;
    const char* bundleIdentifier;
    const char* appName;
};

constexpr std::array<Player, 3> kPlayers = {{
    {"com.spotify.client.PlaybackStateChanged", "com.spotify.client", "Spotify"},
    {"com.apple.Music.playerInfo", "com.apple.Music", "Music"},
    {"com.apple.iTunes.playerInfo", "com.apple.Music", "Music"},
}};

constexpr double kSlowCommandMilliseconds = 20.0;

// The text a value shows in the players' dictionaries: strings as they are,
// numbers in decimal (a Boolean is the number 1 or 0). Other kinds carry no
// text the monitor could use and read as blank.
std::string textualForm(const platform::PropertyValue& value) {
    using Kind = platform::PropertyValue::Kind;
    switch (value.kind()) {
        case Kind::String: return *value.asString();
        case Kind::Integer: return std::to_string(*value.asInteger());
        case Kind::Boolean: return *value.asBoolean() ? "1" : "0";
        case Kind::Real: {
            char buffer[32];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, *value.asReal());
            return std::string(buffer, result.ptr);
        }
        default: return {};
    }
}

// The trimmed value of the first key whose value is not blank.
std::optional<std::string> firstFilled(const std::map<std::string, std::string>& values,
                                       std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        const auto found = values.find(key);
        if (found == values.end()) continue;
        std::string text = platform::trimWhitespaceAndNewlines(found->second);
        if (!text.empty()) return text;
    }
    return std::nullopt;
}

MediaPlaybackState playbackState(const std::map<std::string, std::string>& values) {
    const std::string state =
        platform::toLowerCase(firstFilled(values, {"Player State", "Playback State", "State"}).value_or(""));
    if (state.find("play") != std::string::npos) return MediaPlaybackState::playing;
    if (state.find("paus") != std::string::npos) return MediaPlaybackState::paused;
    return MediaPlaybackState::stopped;
}

std::optional<std::string> playerName(const std::string& bundleIdentifier) {
    if (bundleIdentifier == "com.spotify.client") return "Spotify";
    if (bundleIdentifier == "com.apple.Music") return "Music";
    return std::nullopt;
}

const char* commandText(MediaPlaybackCommand command) {
    switch (command) {
        case MediaPlaybackCommand::previous: return "previous track";
        case MediaPlaybackCommand::playPause: return "playpause";
        case MediaPlaybackCommand::next: return "next track";
    }
    return "playpause";
}

}  // namespace

std::string mediaCommandScript(const std::string& player, MediaPlaybackCommand command) {
    return "tell application \"" + player +
           "\"\n"
           "    if it is running then\n"
           "        " + commandText(command) +
           "\n"
           "    end if\n"
           "end tell";
}

MediaPlaybackMonitor::MediaPlaybackMonitor(platform::Dispatcher& dispatcher, platform::NotificationCenter& center,
                                           AppleScriptFunction runScript)
    : dispatcher_(dispatcher),
      center_(center),
      runScript_(std::move(runScript)),
      self_(std::make_shared<MediaPlaybackMonitor*>(this)) {}

MediaPlaybackMonitor::~MediaPlaybackMonitor() {
    for (const auto& token : observers_) center_.removeObserver(token);
}

void MediaPlaybackMonitor::start() {
    if (!observers_.empty()) return;
    const platform::QueueRef main = dispatcher_.mainQueue();
    for (const Player& player : kPlayers) {
        std::weak_ptr<MediaPlaybackMonitor*> weak = self_;
        observers_.push_back(center_.addObserver(
            player.notificationName, nullptr, main,
            [weak, main, player](const platform::Notification& notification) {
                // No dictionary at all: nothing to read. An empty one is a
                // report without a state, which reads as stopped.
                if (!notification.userInfo) return;
                StringDictionary values;
                for (const auto& [key, value] : *notification.userInfo) values[key] = textualForm(value);
                main->async([weak, name = notification.name, values = std::move(values), player] {
                    if (auto self = weak.lock()) {
                        (*self)->handlePlayerNotification(name, values, player.bundleIdentifier, player.appName);
                    }
                });
            }));
    }
    logPerformanceMediaMonitorStart();
}

void MediaPlaybackMonitor::handlePlayerNotification(const std::string& name, const StringDictionary& values,
                                                    const std::string& bundleIdentifier, const std::string& appName) {
    if (lastLoggedKeys_.insert(name).second) {
        std::string keys;
        for (const auto& [key, value] : values) keys += (keys.empty() ? "" : ",") + key;
        logPerformanceMediaNotificationKeys(name, keys);
    }
    MediaPlaybackInfo info{bundleIdentifier,
                           appName,
                           playbackState(values),
                           firstFilled(values, {"Name", "Track Name", "Title"}),
                           firstFilled(values, {"Artist"}),
                           firstFilled(values, {"Album"})};
    logPerformanceMediaNotification(bundleIdentifier, info.state, info.title);
    latestPlayback_[bundleIdentifier] = info;
    if (onPlaybackChanged) onPlaybackChanged(info);
}

std::optional<MediaPlaybackInfo> MediaPlaybackMonitor::sendCommand(MediaPlaybackCommand command,
                                                                   const std::string& bundleIdentifier) {
    std::optional<MediaPlaybackInfo> updated;
    if (auto stored = latestPlayback_.find(bundleIdentifier); stored != latestPlayback_.end()) {
        updated = stored->second;
        if (command == MediaPlaybackCommand::playPause) {
            // Optimistic: the pet shows the new state before the player answers.
            updated->state = updated->state == MediaPlaybackState::playing ? MediaPlaybackState::paused
                                                                           : MediaPlaybackState::playing;
        }
        stored->second = *updated;
        if (onPlaybackChanged) onPlaybackChanged(*updated);
    }

    const std::uint64_t start = dispatcher_.clock().monotonicNanos();
    if (const auto player = playerName(bundleIdentifier); player && runScript_) {
        runScript_(mediaCommandScript(*player, command));
    }
    const double milliseconds = static_cast<double>(dispatcher_.clock().monotonicNanos() - start) / 1e6;
    if (milliseconds >= kSlowCommandMilliseconds) {
        logPerformanceDuration("media.command", milliseconds,
                               "bundle=" + bundleIdentifier + " command=" + std::string(caseName(command)));
    }
    return updated;
}

}  // namespace Mossbridge
