// One refresh pass of the coordinator with 30 running applications and 200
// windows on the in-memory desktop, 10 of them with a sprite pet: the pass
// with cached statuses (the usual one: the slow sources are read at most
// every 2 to 6 s), the pass whose status task reads the sources, and the
// status reads alone (a 180-row notification database; badge labels
// answered at once, as the badge tool does not exist here).

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Mossbridge/app/MossbridgeCoordinator.h"
#include "Mossbridge/app/NotificationDatabaseFixture.h"
#include "Mossbridge/pets/PetAnimationClock.h"
#include "Mossbridge/system/NotificationDatabaseReader.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/XdgPaths.h"
#include "platform/desktop/InMemoryCalendarStore.h"
#include "platform/desktop/InMemoryDesktop.h"

namespace {

using namespace Mossbridge;
namespace fs = std::filesystem;

constexpr int kApps = 30;
constexpr int kWindows = 200;
constexpr int kPets = 10;

std::string bundle(int i) { return "com.example.app" + std::to_string(i); }

// 180 notifications spread over the applications, built once.
fs::path notificationDatabase() {
    const fs::path folder = fs::temp_directory_path() / "mossbridge-refresh-bench";
    fs::create_directories(folder);
    std::string text = R"({"records": [)";
    for (int i = 0; i < 180; ++i) {
        text += (i ? "," : "") + std::string(R"({"app": ")") + bundle(i % kApps) + R"(", "recordID": )" +
                std::to_string(i + 1) + R"(, "delivered": -)" + std::to_string(i * 7) +
                R"(, "title": "Someone", "body": "A message of ordinary length for a notification"})";
    }
    text += "]}";
    const fs::path fixture = folder / "bench.notifications.json";
    std::ofstream(fixture) << text;
    if (const auto error = buildNotificationDatabase(fixture, folder / "db", 1.7e9)) std::abort();
    return folder / "db";
}

struct World {
    platform::DeterministicDispatcher dispatcher;
    platform::WindowServer server{{platform::Screen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 1}}};
    platform::MenuBar menuBar{server};
    platform::Application application{menuBar, nullptr};
    platform::InMemoryDesktop desktop;
    platform::NotificationCenter distributed, calendarCenter;
    std::shared_ptr<platform::InMemoryCalendarStore> calendar =
        std::make_shared<platform::InMemoryCalendarStore>(calendarCenter);
    std::shared_ptr<platform::UserDefaults> defaults =
        std::make_shared<platform::UserDefaults>("Mossbridge", fs::temp_directory_path() / "mossbridge-refresh-bench");
    std::shared_ptr<MossbridgeCoordinator> coordinator;

    World() {
        PetAnimationClock::configureShared({&dispatcher, nullptr});
        desktop.accessibility->setTrusted(true);
        for (int i = 0; i < kApps; ++i) {
            platform::InstalledApplication app;
            app.application.processIdentifier = 1000 + i;
            app.application.bundleIdentifier = bundle(i);
            app.application.localizedName = "App " + std::to_string(i);
            desktop.workspace->install(app);
            platform::AccessibilityApplication windows;
            for (int w = i; w < kWindows; w += kApps) {
                windows.windows.push_back({std::uint64_t(w + 1), std::string("Window ") + std::to_string(w), {}});
                desktop.windowList->addWindow({std::uint32_t(5000 + w), 1000 + i, "App", "Window", {0, 0, 800, 600}});
            }
            desktop.accessibility->setApplication(1000 + i, windows);
        }
        std::vector<AppAssignment> pets;
        for (int i = 0; i < kPets; ++i) {
            AppAssignment a;
            a.bundleIdentifier = bundle(i);
            a.appName = "App " + std::to_string(i);
            a.petKind = PetKind::robotV1;
            a.frame = CodableRect(20 + 100 * i, 100, 92, 104);
            pets.push_back(a);
        }
        const auto text = encodeAssignments(pets).value();
        (void)defaults->set(AssignmentStore::defaultsKey, platform::PropertyData(text.begin(), text.end()));

        NotificationDatabaseReader::Options reader;
        reader.defaults = defaults;
        reader.candidates = std::vector<fs::path>{notificationDatabase()};
        CoordinatorEnvironment environment;
        environment.dispatcher = &dispatcher;
        environment.windowServer = &server;
        environment.application = &application;
        environment.defaults = defaults;
        environment.workspace = desktop.workspace;
        environment.accessibility = desktop.accessibility;
        environment.windowList = desktop.windowList;
        environment.runScript = [](const std::string&) { return std::optional<std::string>(); };
        environment.distributedCenter = &distributed;
        environment.calendarStore = calendar;
        environment.calendarCenter = &calendarCenter;
        environment.statusSources.badges = [](const auto&) { return std::map<std::string, std::string>{}; };
        environment.statusSources.notifications = [r = NotificationDatabaseReader(reader)](const auto& targets) {
            return r.readNotificationItems(targets);
        };
        coordinator = MossbridgeCoordinator::create(std::move(environment));
        coordinator->refresh();
        dispatcher.drain();
    }
    ~World() {
        coordinator.reset();
        PetAnimationClock::resetSharedForTesting();
    }
};

void BM_RefreshPassCachedStatuses(benchmark::State& state) {
    World world;
    for (auto _ : state) {
        world.coordinator->refresh();
        world.dispatcher.drain();
    }
}
BENCHMARK(BM_RefreshPassCachedStatuses)->Unit(benchmark::kMicrosecond);

void BM_RefreshPassReadingTheSources(benchmark::State& state) {
    World world;
    for (auto _ : state) {
        state.PauseTiming();
        world.dispatcher.virtualClock().advance(6.5);  // the sources are due again
        state.ResumeTiming();
        world.coordinator->refresh();
        world.dispatcher.drain();
    }
}
BENCHMARK(BM_RefreshPassReadingTheSources)->Unit(benchmark::kMicrosecond);

void BM_StatusReadsAlone(benchmark::State& state) {
    World world;
    std::vector<AppStatusTarget> targets;
    for (const auto& app : world.coordinator->runningApps()->apps()) {
        targets.push_back({app.bundleIdentifier, app.name, app.processIdentifier});
    }
    NotificationDatabaseReader::Options options;
    options.defaults = world.defaults;
    options.candidates = std::vector<fs::path>{notificationDatabase()};
    AppStatusService service({[](const auto&) { return std::map<std::string, std::string>{}; },
                              [r = NotificationDatabaseReader(options)](const auto& t) { return r.readNotificationItems(t); }},
                             world.dispatcher.clock(), world.defaults);
    for (auto _ : state) {
        state.PauseTiming();
        world.dispatcher.virtualClock().advance(6.5);
        state.ResumeTiming();
        service.refresh(targets);
    }
}
BENCHMARK(BM_StatusReadsAlone)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
