#include "VeredodaInstallations/VRDInstallations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <regex>

#include "VeredodaCore/CoreTestSupport.h"
#include "platform/core/DeterministicDispatch.h"

namespace {

namespace fs = std::filesystem;

struct Answer {
    int calls = 0;
    bool onServiceQueue = false;
    std::optional<std::string> installationID;
    std::optional<VULError> error;
};

class Installations : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        storeFile = resources / "data" / "VeredodaInstallations" / "installations.plist";
        changes = platform::NotificationCenter::defaultCenter().addObserver(
            "VRDInstallationIDDidChangeNotification", nullptr, nullptr,
            [this](const platform::Notification&) { ++changeCount; });
    }
    void TearDown() override {
        VRDInstallations::resetForTesting();
        CoreTest::TearDown();
    }

    std::shared_ptr<VRDInstallations> makeService(const std::string& appID, fs::path file = {}) {
        return std::make_shared<VRDInstallations>(&dispatcher, "__DEDORU_DEFAULT", appID,
                                                  file.empty() ? storeFile : file);
    }

    Answer ask(const std::shared_ptr<VRDInstallations>& service) {
        Answer answer;
        service->installationIDWithCompletion(
            [&](const std::optional<std::string>& installationID, const std::optional<VULError>& error) {
                ++answer.calls;
                const auto current = dispatcher.currentQueue();
                answer.onServiceQueue = current && current->label() == "com.veredoda.installations";
                answer.installationID = installationID;
                answer.error = error;
            });
        EXPECT_EQ(answer.calls, 0) << "answers arrive on the service's queue, not inline";
        dispatcher.drain();
        EXPECT_EQ(answer.calls, 1);
        return answer;
    }

    platform::DeterministicDispatcher dispatcher;
    fs::path storeFile;
    platform::NotificationObserverToken changes;
    int changeCount = 0;
};

TEST_F(Installations, AFirstIDIsMadeStoredAnnouncedAndAnsweredOnTheServicesQueue) {
    const Answer answer = ask(makeService("1:1:macos:a"));
    EXPECT_TRUE(answer.onServiceQueue);
    EXPECT_FALSE(answer.error.has_value());
    ASSERT_TRUE(answer.installationID.has_value());
    EXPECT_TRUE(std::regex_match(*answer.installationID, std::regex("[A-Za-z0-9_-]{22}"))) << *answer.installationID;
    EXPECT_TRUE(fs::exists(storeFile));
    EXPECT_EQ(changeCount, 1);
}

TEST_F(Installations, TheIDSurvivesARestartAndIsNotAnnouncedAgain) {
    const Answer first = ask(makeService("1:1:macos:a"));
    const Answer again = ask(makeService("1:1:macos:a"));  // a new process reading the same file
    EXPECT_EQ(again.installationID, first.installationID);
    EXPECT_EQ(changeCount, 1);

    const auto service = makeService("1:1:macos:a");
    EXPECT_EQ(ask(service).installationID, first.installationID);
    EXPECT_EQ(ask(service).installationID, first.installationID);
}

TEST_F(Installations, EachAppIDHasItsOwnInstallation) {
    const Answer first = ask(makeService("1:1:macos:a"));
    const Answer other = ask(makeService("1:2:macos:b"));
    EXPECT_NE(other.installationID, first.installationID);
    EXPECT_EQ(changeCount, 2);
    EXPECT_EQ(ask(makeService("1:1:macos:a")).installationID, first.installationID);
}

TEST_F(Installations, AnUnreadableStoreIsReplacedByANewID) {
    fs::create_directories(storeFile.parent_path());
    std::ofstream(storeFile) << "garbage";
    const Answer answer = ask(makeService("1:1:macos:a"));
    ASSERT_TRUE(answer.installationID.has_value());
    EXPECT_EQ(ask(makeService("1:1:macos:a")).installationID, answer.installationID);
}

TEST_F(Installations, AnIDThatCannotBeStoredIsAnErrorNotAnID) {
    const fs::path blocker = resources / "not-a-folder";
    std::ofstream(blocker) << "a file where a folder should be";
    const Answer answer = ask(makeService("1:1:macos:a", blocker / "installations.plist"));
    EXPECT_FALSE(answer.installationID.has_value());
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->domain, "com.veredoda.installations");
    EXPECT_EQ(answer.error->code, VRDInstallationsErrorCodeStorage);
    EXPECT_EQ(changeCount, 0);
}

TEST_F(Installations, TheSharedServiceBelongsToTheConfiguredDefaultApp) {
    VRDInstallations::resetForTesting(&dispatcher, storeFile);
    EXPECT_EQ(VRDInstallations::installations(), nullptr);

    writeServiceInfo({{"VADOVA_APP_ID", platform::PropertyValue("1:5:macos:e")}});
    DEDOru::configure();
    const auto service = VRDInstallations::installations();
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(VRDInstallations::installations(), service);
    const Answer answer = ask(service);
    EXPECT_EQ(answer.installationID, ask(makeService("1:5:macos:e")).installationID);
}

TEST_F(Installations, WithoutAGivenDispatcherTheServiceRunsItsOwnQueueThread) {
    std::promise<std::optional<std::string>> answered;
    {
        VRDInstallations service(nullptr, "__DEDORU_DEFAULT", "1:1:macos:a", storeFile);
        service.installationIDWithCompletion(
            [&](const std::optional<std::string>& installationID, const std::optional<VULError>&) {
                answered.set_value(installationID);
            });
        auto future = answered.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(future.get(), ask(makeService("1:1:macos:a")).installationID);
    }  // the service and its own dispatcher end here
}

}  // namespace
