#include "Mossbridge/system/MediaPlaybackMonitor.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "StatusSourceFixtures.h"
#include "platform/core/DeterministicDispatch.h"

namespace Mossbridge {
namespace {

using testing::capturedOutput;

class MediaPlaybackMonitorTest : public ::testing::Test {
protected:
    MediaPlaybackMonitorTest() {
        monitor_->onPlaybackChanged = [this](const MediaPlaybackInfo& info) { reported_.push_back(info); };
        monitor_->start();
    }

    void post(const std::string& name, platform::PropertyDictionary userInfo) {
        center_.post(name, nullptr, std::move(userInfo));
        dispatcher_.drain();
    }

    platform::DeterministicDispatcher dispatcher_;
    platform::NotificationCenter center_;
    std::vector<std::string> scripts_;
    std::vector<MediaPlaybackInfo> reported_;
    std::function<void()> duringScript_;
    std::unique_ptr<MediaPlaybackMonitor> monitor_ =
        std::make_unique<MediaPlaybackMonitor>(dispatcher_, center_, [this](const std::string& script) {
            scripts_.push_back(script);
            if (duringScript_) duringScript_();
            return std::optional<std::string>("");
        });
};

TEST_F(MediaPlaybackMonitorTest, PlayerStatesTitlesAndArtists) {
    post("com.spotify.client.PlaybackStateChanged",
         {{"Player State", "Playing"}, {"Name", " Song "}, {"Artist", "Band"}, {"Album", "  "}});
    ASSERT_EQ(reported_.size(), 1u);
    EXPECT_EQ(reported_[0], (MediaPlaybackInfo{"com.spotify.client", "Spotify", MediaPlaybackState::playing,
                                               std::string("Song"), std::string("Band"), std::nullopt}));
    post("com.spotify.client.PlaybackStateChanged", {{"Player State", "Paused"}});
    EXPECT_EQ(reported_.back().state, MediaPlaybackState::paused);
    EXPECT_EQ(reported_.back().title, std::nullopt);
    post("com.spotify.client.PlaybackStateChanged", {{"Player State", "Stopped"}});
    EXPECT_EQ(reported_.back().state, MediaPlaybackState::stopped);
    EXPECT_EQ(monitor_->latestPlayback().at("com.spotify.client").state, MediaPlaybackState::stopped);
}

TEST_F(MediaPlaybackMonitorTest, KeyPrecedenceSkipsBlankValues) {
    post("com.apple.Music.playerInfo", {{"Player State", " "}, {"Playback State", ""}, {"State", "PLAYING"},
                                        {"Name", "\n"}, {"Track Name", ""}, {"Title", "From Title"}});
    EXPECT_EQ(reported_.back().state, MediaPlaybackState::playing);
    EXPECT_EQ(reported_.back().title, "From Title");
    post("com.apple.Music.playerInfo", {{"Artist", "Someone"}});
    EXPECT_EQ(reported_.back().state, MediaPlaybackState::stopped);
}

TEST_F(MediaPlaybackMonitorTest, BothMusicNamesShareOneRecord) {
    post("com.apple.iTunes.playerInfo", {{"Player State", "Playing"}, {"Name", "Old name"}});
    post("com.apple.Music.playerInfo", {{"Player State", "Paused"}, {"Name", "New name"}});
    ASSERT_EQ(monitor_->latestPlayback().size(), 1u);
    const auto& music = monitor_->latestPlayback().at("com.apple.Music");
    EXPECT_EQ(music.appName, "Music");
    EXPECT_EQ(music.title, "New name");
    EXPECT_EQ(reported_[0].bundleIdentifier, "com.apple.Music");
}

TEST_F(MediaPlaybackMonitorTest, NoUserInfoIsIgnoredButAnEmptyOneReportsStopped) {
    center_.post("com.spotify.client.PlaybackStateChanged", nullptr, std::nullopt);
    dispatcher_.drain();
    EXPECT_TRUE(reported_.empty());
    EXPECT_TRUE(monitor_->latestPlayback().empty());

    post("com.spotify.client.PlaybackStateChanged", {{"Player State", "Playing"}, {"Name", "Song"}});
    post("com.spotify.client.PlaybackStateChanged", {});
    ASSERT_EQ(reported_.size(), 2u);
    EXPECT_EQ(reported_[1], (MediaPlaybackInfo{"com.spotify.client", "Spotify", MediaPlaybackState::stopped,
                                               std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(monitor_->latestPlayback().at("com.spotify.client").state, MediaPlaybackState::stopped);
}

TEST_F(MediaPlaybackMonitorTest, MistypedUserInfoNeverBreaksTheMonitor) {
    post("com.spotify.client.PlaybackStateChanged",
         {{"Player State", 1}, {"Name", 42}, {"Artist", platform::PropertyArray{"x"}},
          {"Album", platform::PropertyData{1, 2}}, {"Title", true}});
    ASSERT_EQ(reported_.size(), 1u);
    EXPECT_EQ(reported_[0].state, MediaPlaybackState::stopped);
    EXPECT_EQ(reported_[0].title, "42");
    EXPECT_EQ(reported_[0].artist, std::nullopt);
    EXPECT_EQ(reported_[0].album, std::nullopt);
}

TEST_F(MediaPlaybackMonitorTest, NotificationsAreHandledOnTheMainQueueAndDroppedOnceTheMonitorIsGone) {
    center_.post("com.spotify.client.PlaybackStateChanged", nullptr,
                 platform::PropertyDictionary{{"Player State", "Playing"}});
    EXPECT_TRUE(reported_.empty());
    dispatcher_.drain();
    EXPECT_EQ(reported_.size(), 1u);

    center_.post("com.spotify.client.PlaybackStateChanged", nullptr,
                 platform::PropertyDictionary{{"Player State", "Paused"}});
    monitor_.reset();
    dispatcher_.drain();
    EXPECT_EQ(reported_.size(), 1u);
    EXPECT_EQ(center_.observerCount(), 0u);
}

TEST_F(MediaPlaybackMonitorTest, StartingTwiceRegistersThreeObservers) {
    monitor_->start();
    EXPECT_EQ(center_.observerCount(), 3u);
}

TEST_F(MediaPlaybackMonitorTest, KeysAreLoggedOncePerNotificationName) {
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    const auto output = capturedOutput([&] {
        post("com.apple.Music.playerInfo", {{"Name", "a"}, {"Artist", "b"}, {"Player State", "Playing"}});
        post("com.apple.Music.playerInfo", {{"Name", "c"}});
        post("com.apple.iTunes.playerInfo", {{"Name", "d"}});
    });
    unsetenv("MOSSBRIDGE_PERF_LOGS");
    EXPECT_NE(output.find(" media.notification.keys name=com.apple.Music.playerInfo keys=Artist,Name,Player State\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("name=com.apple.iTunes.playerInfo keys=Name\n"), std::string::npos);
    EXPECT_EQ(output.find("keys=Name\n"), output.rfind("keys=Name\n"));  // the Music name's second post wrote none
    EXPECT_NE(output.find(" media.notification bundle=com.apple.Music state=stopped title=c\n"), std::string::npos);
}

TEST_F(MediaPlaybackMonitorTest, PlayPauseReportsTheNewStateBeforeTheScriptRuns) {
    post("com.spotify.client.PlaybackStateChanged", {{"Player State", "Paused"}, {"Name", "Song"}});
    std::size_t reportedWhenScriptRan = 0;
    duringScript_ = [&] { reportedWhenScriptRan = reported_.size(); };
    const auto updated = monitor_->sendCommand(MediaPlaybackCommand::playPause, "com.spotify.client");
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->state, MediaPlaybackState::playing);
    EXPECT_EQ(updated->title, "Song");
    EXPECT_EQ(reportedWhenScriptRan, 2u);
    EXPECT_EQ(reported_.back(), *updated);
    EXPECT_EQ(scripts_, std::vector<std::string>{"tell application \"Spotify\"\n"
                                                 "    if it is running then\n"
                                                 "        playpause\n"
                                                 "    end if\n"
                                                 "end tell"});

    monitor_->sendCommand(MediaPlaybackCommand::playPause, "com.spotify.client");
    EXPECT_EQ(reported_.back().state, MediaPlaybackState::paused);
    post("com.spotify.client.PlaybackStateChanged", {{"Player State", "Stopped"}});
    monitor_->sendCommand(MediaPlaybackCommand::playPause, "com.spotify.client");
    EXPECT_EQ(reported_.back().state, MediaPlaybackState::playing);
}

TEST_F(MediaPlaybackMonitorTest, PreviousAndNextReportTheUnchangedRecord) {
    post("com.apple.Music.playerInfo", {{"Player State", "Playing"}, {"Name", "Song"}});
    monitor_->sendCommand(MediaPlaybackCommand::previous, "com.apple.Music");
    monitor_->sendCommand(MediaPlaybackCommand::next, "com.apple.Music");
    ASSERT_EQ(reported_.size(), 3u);
    EXPECT_EQ(reported_[1], reported_[0]);
    EXPECT_EQ(reported_[2], reported_[0]);
    EXPECT_EQ(scripts_[0], mediaCommandScript("Music", MediaPlaybackCommand::previous));
    EXPECT_NE(scripts_[0].find("        previous track\n"), std::string::npos);
    EXPECT_NE(scripts_[1].find("        next track\n"), std::string::npos);
}

TEST_F(MediaPlaybackMonitorTest, CommandsWithoutARecordOrForOtherApplications) {
    EXPECT_EQ(monitor_->sendCommand(MediaPlaybackCommand::next, "com.apple.Music"), std::nullopt);
    EXPECT_TRUE(reported_.empty());
    EXPECT_EQ(scripts_.size(), 1u);  // still sent to a known player

    EXPECT_EQ(monitor_->sendCommand(MediaPlaybackCommand::playPause, "org.other.player"), std::nullopt);
    EXPECT_EQ(scripts_.size(), 1u);
}

}  // namespace
}  // namespace Mossbridge
