#pragma once
// Follows what the music players play, from the playback notifications they
// post on the distributed notification centre, keeps the latest record per
// player and reports each one; sends previous, play/pause and next to a
// player through AppleScript, reporting the expected state before the
// script runs. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/system/AppleScriptRunner.h"
#include "platform/core/Dispatch.h"
#include "platform/core/NotificationCenter.h"

namespace Mossbridge {

// Runs one AppleScript text; the trimmed output, or none when it failed.
using AppleScriptFunction = std::function<std::optional<std::string>(const std::string& script)>;

// The script that sends `command` to the player application `player`.
std::string mediaCommandScript(const std::string& player, MediaPlaybackCommand command);

class MediaPlaybackMonitor {
public:
    // `center`: where the players post (the distributed centre in the app);
    // `runScript`: the AppleScript runner (a recording one in tests).
    MediaPlaybackMonitor(platform::Dispatcher& dispatcher, platform::NotificationCenter& center,
                         AppleScriptFunction runScript = runAppleScript);
    ~MediaPlaybackMonitor();
    MediaPlaybackMonitor(const MediaPlaybackMonitor&) = delete;
    MediaPlaybackMonitor& operator=(const MediaPlaybackMonitor&) = delete;

    // Called with every record built from a notification or updated by a command.
    std::function<void(const MediaPlaybackInfo&)> onPlaybackChanged;

    // Registers the observers; a second call does nothing.
    void start();
    // The player's updated record, or none when none was stored.
    std::optional<MediaPlaybackInfo> sendCommand(MediaPlaybackCommand command, const std::string& bundleIdentifier);

    const std::map<std::string, MediaPlaybackInfo>& latestPlayback() const { return latestPlayback_; }

private:
    using StringDictionary = std::map<std::string, std::string>;
    void handlePlayerNotification(const std::string& name, const StringDictionary& userInfo,
                                  const std::string& bundleIdentifier, const std::string& appName);

    platform::Dispatcher& dispatcher_;
    platform::NotificationCenter& center_;
    AppleScriptFunction runScript_;
    std::map<std::string, MediaPlaybackInfo> latestPlayback_;
    std::vector<platform::NotificationObserverToken> observers_;
    std::set<std::string> lastLoggedKeys_;
    // Blocks queued for later hold this weakly; it dies with the monitor.
    std::shared_ptr<MediaPlaybackMonitor*> self_;
};

}  // namespace Mossbridge
