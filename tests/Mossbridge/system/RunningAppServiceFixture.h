#pragma once
// A RunningAppService over an in-memory desktop, a deterministic main queue
// and a fake script runner that records every script and answers from a
// queue (none once the queue is empty).

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "Mossbridge/system/RunningAppService.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/desktop/InMemoryDesktop.h"

namespace Mossbridge {

class RunningAppServiceFixture : public ::testing::Test {
protected:
    RunningAppServiceFixture() {
        service = RunningAppService::create({desktop.workspace, desktop.accessibility, desktop.windowList,
                                             [this](const std::string& script) {
                                                 scripts.push_back(script);
                                                 if (scriptAnswers.empty()) return std::optional<std::string>();
                                                 auto answer = scriptAnswers.front();
                                                 scriptAnswers.pop_front();
                                                 return answer;
                                             },
                                             dispatcher.mainQueue(), &dispatcher.clock()});
    }

    // A running regular application with `windows` accessibility windows
    // titled by `titles`.
    platform::InstalledApplication& install(std::int32_t pid, std::optional<std::string> bundleIdentifier,
                                            std::optional<std::string> name, std::vector<std::string> titles = {}) {
        platform::InstalledApplication app;
        app.application.processIdentifier = pid;
        app.application.bundleIdentifier = std::move(bundleIdentifier);
        app.application.localizedName = std::move(name);
        app.application.bundleURL = "/Applications/" + std::to_string(pid) + ".app";
        desktop.workspace->install(app);
        platform::AccessibilityApplication accessible;
        for (std::size_t i = 0; i < titles.size(); ++i) {
            accessible.windows.push_back({i + 1, platform::AccessibilityValue(titles[i]), {}});
        }
        desktop.accessibility->setApplication(pid, std::move(accessible));
        return *desktop.workspace->find(pid);
    }

    void addVisibleWindow(std::int32_t pid, std::uint32_t number, std::optional<std::string> name,
                          platform::Rect bounds = {0, 0, 400, 300}) {
        desktop.windowList->addWindow({number, pid, std::nullopt, std::move(name), bounds, 0, 1});
    }

    static std::string captured(const std::function<void()>& body) {
        ::testing::internal::CaptureStdout();
        body();
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }

    platform::DeterministicDispatcher dispatcher;
    platform::InMemoryDesktop desktop;
    std::vector<std::string> scripts;
    std::deque<std::optional<std::string>> scriptAnswers;
    std::shared_ptr<RunningAppService> service;
};

}  // namespace Mossbridge
