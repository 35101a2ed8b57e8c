#include "Mossbridge/app/HeadlessRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "Mossbridge/app/AppDelegate.h"
#include "Mossbridge/app/NotificationDatabaseFixture.h"
#include "Mossbridge/app/TerminationSignals.h"
#include "Mossbridge/model/AppAssignment.h"
#include "Mossbridge/model/AssignmentStore.h"
#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "Mossbridge/model/PetKind.h"
#include "Mossbridge/pets/PetAnimationClock.h"
#include "Mossbridge/system/BadgeLabels.h"
#include "Mossbridge/system/NotificationDatabaseReader.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/Environment.h"
#include "platform/core/XdgPaths.h"
#include "platform/desktop/InMemoryCalendarStore.h"
#include "platform/desktop/InMemoryDesktop.h"
#include "platform/desktop/InMemoryLaunchServicesTool.h"
#include "platform/desktop/Scenario.h"
#include "platform/desktop/ScenarioEvents.h"
#include "platform/drawing/CairoCanvas.h"

namespace Mossbridge {

namespace fs = std::filesystem;

namespace {

constexpr double kVirtualStepSeconds = 0.25;
// Pictures closer together than this would keep a virtual clock from ever
// reaching the end of the run.
constexpr double kShortestSnapshotInterval = 0.05;
constexpr double kRealSliceSeconds = 3600;
const platform::Screen kDefaultScreen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 1};

std::optional<double> number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

fs::path companion(const fs::path& scenario, const char* suffix) {
    return scenario.parent_path() / (scenario.stem().string() + suffix);
}

std::optional<std::string> readText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The resources folder, checked; none after reporting what was looked for.
std::optional<fs::path> usableResources(const HeadlessOptions& options, const fs::path& executableFolder) {
    const auto [folder, source] = resolveResourcesDirectory(options, executableFolder);
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        printErrorLine("no resources folder at " + folder.string() + " (" + source +
                            "); set MOSSBRIDGE_RESOURCES or pass --resources DIR");
        return std::nullopt;
    }
    fs::directory_iterator listing(folder, error);
    if (error) {
        printErrorLine("cannot read the resources folder " + folder.string() + " (" + source +
                            "): " + error.message());
        return std::nullopt;
    }
    return folder;
}

void reportUnreadableDefaults(const platform::UserDefaults::UnreadableFile& unreadable) {
    if (unreadable.movedTo) {
        printErrorLine("the user defaults file " + unreadable.file.string() + " could not be read; moved it to " +
                            unreadable.movedTo->string() + " and starting with defaults");
    } else {
        printErrorLine("the user defaults file " + unreadable.file.string() +
                            " could not be read nor moved aside; starting with defaults, which are not saved over it");
    }
}

// Names, in one line, the sprite sheets the resources folder lacks: a sprite
// pet without its sheets shows nothing but its badges.
void reportMissingSpriteSheets(const fs::path& folder) {
    const std::vector<std::string> sheets = spriteSheetNames();
    std::vector<std::string> missing;
    for (const std::string& sheet : sheets) {
        std::error_code error;
        if (!fs::is_regular_file(folder / (sheet + ".png"), error)) missing.push_back(sheet + ".png");
    }
    if (missing.empty()) return;
    constexpr std::size_t kNamed = 3;
    std::string names;
    for (std::size_t i = 0; i < std::min(kNamed, missing.size()); ++i) names += (i ? ", " : "") + missing[i];
    if (missing.size() > kNamed) names += " and " + std::to_string(missing.size() - kNamed) + " more";
    printErrorLine("the resources folder " + folder.string() + " lacks " + std::to_string(missing.size()) +
                        " of the " + std::to_string(sheets.size()) + " sprite sheets (" + names +
                        "): pets drawn from them show only their badges");
}

// Writes the stored assignments of the scenario's companion when the user
// defaults hold none; false after reporting a companion that is unusable.
bool seedAssignments(const fs::path& scenario, platform::UserDefaults& defaults) {
    const fs::path seed = companion(scenario, ".assignments.json");
    std::error_code error;
    if (!fs::exists(seed, error) || defaults.object(AssignmentStore::defaultsKey)) return true;
    const auto text = readText(seed);
    if (!text) {
        printErrorLine("cannot read " + seed.string());
        return false;
    }
    if (const auto decoded = decodeAssignments(*text); !decoded) {
        printErrorLine(seed.string() + ": " + decoded.error());
        return false;
    }
    if (!defaults.set(AssignmentStore::defaultsKey, platform::PropertyData(text->begin(), text->end()))) {
        printErrorLine("could not store the assignments of " + seed.string());
    }
    return true;
}

// The pictures' names: "screen-" and the number, four digits at least.
constexpr std::string_view kSnapshotPrefix = "screen-";
constexpr std::string_view kSnapshotSuffix = ".png";
constexpr std::size_t kSnapshotDigits = 4;

std::string snapshotName(int index) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", int(kSnapshotDigits), index);
    return std::string(kSnapshotPrefix) + digits + std::string(kSnapshotSuffix);
}

bool isSnapshotName(std::string_view name) {
    if (!name.starts_with(kSnapshotPrefix) || !name.ends_with(kSnapshotSuffix)) return false;
    const std::string_view number =
        name.substr(kSnapshotPrefix.size(), name.size() - kSnapshotPrefix.size() - kSnapshotSuffix.size());
    return number.size() >= kSnapshotDigits &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Screen pictures every `interval` seconds, numbered, the newest kept.
class ScreenSnapshots {
public:
    ScreenSnapshots(platform::WindowServer& server, fs::path folder) : server_(server), folder_(std::move(folder)) {}

    // Creates the folder and removes the pictures of an earlier run, so the
    // highest number is always the newest picture; any other file is left.
    bool prepare() {
        std::error_code error;
        fs::create_directories(folder_, error);
        if (error) {
            printErrorLine("cannot create the snapshot folder " + folder_.string() + ": " + error.message());
            return false;
        }
        // Stepped without exceptions: a folder that cannot be read to its
        // end, or a picture that cannot be removed, is said and the run goes on.
        for (fs::directory_iterator entry(folder_, error), end; !error && entry != end; entry.increment(error)) {
            if (!isSnapshotName(entry->path().filename().string())) continue;
            std::error_code removal;
            fs::remove(entry->path(), removal);
            if (removal)
                printErrorLine("cannot remove the earlier picture " + entry->path().string() + ": " +
                               removal.message());
        }
        if (error) printErrorLine("cannot read the snapshot folder " + folder_.string() + ": " + error.message());
        return true;
    }

    void write() {
        ++count_;
        const bool written = server_.writeScreenPng(path(count_));
        // The pictures kept for drawing the screen are painted again only a
        // picture later, by when most have moved on: not kept in between.
        platform::CairoCanvas::clearPictureCache();
        if (!written) {
            printErrorLine("could not write " + path(count_).string());
            return;
        }
        std::error_code ignored;
        if (count_ > kSnapshotsKept) fs::remove(path(count_ - kSnapshotsKept), ignored);
    }

private:
    fs::path path(int index) const { return folder_ / snapshotName(index); }

    platform::WindowServer& server_;
    fs::path folder_;
    int count_ = 0;
};

}  // namespace

std::string usageText() {
    return "usage: mossbridge [--headless] [--scenario FILE] [--seconds N [--virtual-time]]\n"
           "                  [--snapshots DIR] [--snapshot-interval SECONDS] [--resources DIR]\n"
           "  --scenario FILE            the desktop to pretend (default: <resources>/scenarios/desk.json)\n"
           "  --seconds N                quit after N seconds\n"
           "  --virtual-time             count those seconds on a virtual clock, running as fast as it can\n"
           "  --snapshots DIR            where the screen pictures go (default: <caches>/screens)\n"
           "  --snapshot-interval S      seconds between pictures, 0.05 or more (default 1; 0: none)\n"
           "  --resources DIR            the bundle resources (default: MOSSBRIDGE_RESOURCES, else beside\n"
           "                             the executable)\n"
           "  --headless                 accepted; every run uses the in-memory desktop\n";
}

ParsedArguments parseArguments(const std::vector<std::string>& arguments) {
    HeadlessOptions options;
    const auto failure = [](std::string message) { return ParsedArguments{std::nullopt, std::move(message)}; };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        const bool takesValue = option == "--scenario" || option == "--resources" || option == "--snapshots" ||
                                option == "--snapshot-interval" || option == "--seconds";
        if (takesValue && i + 1 == arguments.size()) return failure(option + " needs a value");
        const std::string value = takesValue ? arguments[++i] : std::string();
        if (option == "--headless") {
        } else if (option == "--virtual-time") {
            options.virtualTime = true;
        } else if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--scenario") {
            options.scenario = value;
        } else if (option == "--resources") {
            options.resources = value;
        } else if (option == "--snapshots") {
            options.snapshots = value;
        } else if (option == "--snapshot-interval") {
            const auto seconds = number(value);
            if (!seconds || *seconds < 0) return failure("--snapshot-interval: not a number of seconds: " + value);
            if (*seconds != 0 && *seconds < kShortestSnapshotInterval) {
                return failure("--snapshot-interval: 0 or at least 0.05 seconds: " + value);
            }
            options.snapshotInterval = *seconds;
        } else if (option == "--seconds") {
            const auto seconds = number(value);
            if (!seconds || *seconds <= 0) return failure("--seconds: not a positive number: " + value);
            options.seconds = seconds;
        } else {
            return failure("unknown option " + option);
        }
    }
    if (options.virtualTime && !options.seconds) return failure("--virtual-time needs --seconds");
    return {options, {}};
}

std::pair<fs::path, std::string> resolveResourcesDirectory(const HeadlessOptions& options,
                                                           const fs::path& executableFolder) {
    if (options.resources) return {*options.resources, "from --resources"};
    if (const auto value = platform::environmentValue("MOSSBRIDGE_RESOURCES"); value && !value->empty()) {
        return {*value, "from MOSSBRIDGE_RESOURCES"};
    }
    return {executableFolder.parent_path() / "resources", "beside the executable's folder"};
}

int runHeadless(const HeadlessOptions& options, const fs::path& executableFolder) {
    const auto resources = usableResources(options, executableFolder);
    if (!resources) return 2;
    reportMissingSpriteSheets(*resources);
    VULMainBundle::setResourcesDirectory(*resources);

    const fs::path scenarioPath = options.scenario.value_or(*resources / "scenarios" / "desk.json");
    const platform::ScenarioLoad load = platform::loadScenarioFile(scenarioPath);
    if (!load.scenario) {
        printErrorLine("scenario " + scenarioPath.string() + ": " + load.error);
        return 2;
    }
    const platform::Scenario& scenario = *load.scenario;

    const auto defaults = platform::UserDefaults::standard();
    if (const auto& unreadable = defaults->unreadableFile()) reportUnreadableDefaults(*unreadable);
    if (!seedAssignments(scenarioPath, *defaults)) return 2;

    // The dispatcher: the real one, or a virtual clock stepped below.
    std::unique_ptr<platform::RealDispatcher> real;
    std::unique_ptr<platform::DeterministicDispatcher> deterministic;
    if (options.virtualTime) deterministic = std::make_unique<platform::DeterministicDispatcher>();
    else real = platform::makeRealDispatcher();
    // Before any thread starts: a signal asks the event loop to end, and the
    // run goes out the way a quit does.
    const TerminationSignals signals([&real] {
        if (real) real->stopMain();
    });
    platform::Dispatcher& dispatcher = real ? static_cast<platform::Dispatcher&>(*real) : *deterministic;
    // A virtual run logs virtual seconds, until the dispatcher goes.
    struct PerformanceClockScope {
        explicit PerformanceClockScope(const platform::Clock* clock) { usePerformanceLogClock(clock); }
        ~PerformanceClockScope() { usePerformanceLogClock(nullptr); }
    } performanceClock(deterministic ? &dispatcher.clock() : nullptr);

    platform::InMemoryDesktop desktop = platform::InMemoryDesktop::fromScenario(scenario);
    AppStatusService::Sources statusSources;
    statusSources.badges = badgeSource(BadgeLabelReader(platform::kLaunchServicesToolPath, desktop.processes));
    const fs::path fixture = companion(scenarioPath, ".notifications.json");
    std::error_code exists;
    if (fs::exists(fixture, exists)) {
        const fs::path database = platform::cachesDirectory() / "headless" / scenarioPath.stem() / "db";
        const double start = dispatcher.clock().now();
        if (const auto error = buildNotificationDatabase(fixture, database, start)) {
            printErrorLine("notification fixture " + *error);
            return 2;
        }
        // Records delivered during the run reach the database when their time comes.
        for (const double at : notificationArrivalTimes(fixture)) {
            dispatcher.mainQueue()->after(at, [fixture, database, start, at] {
                if (const auto error = buildNotificationDatabase(fixture, database, start, at)) {
                    printErrorLine("notification fixture " + *error);
                }
            });
        }
        NotificationDatabaseReader::Options readerOptions;
        readerOptions.defaults = defaults;
        readerOptions.candidates = std::vector<fs::path>{database};
        readerOptions.appDisplayName = workspaceAppDisplayName(desktop.workspace);
        statusSources.notifications = [reader = NotificationDatabaseReader(std::move(readerOptions))](
                                          const std::vector<AppStatusTarget>& targets) {
            return reader.readNotificationItems(targets);
        };
    }

    platform::WindowServer server(scenario.screens.empty() ? std::vector<platform::Screen>{kDefaultScreen}
                                                           : scenario.screens);
    platform::MenuBar menuBar(server);
    platform::NotificationCenter distributedCenter;
    platform::NotificationCenter calendarCenter;
    const auto calendarStore = std::make_shared<platform::InMemoryCalendarStore>(calendarCenter);

    PetAnimationClock::configureShared({&dispatcher, [&server] { return server.createDisplayLinkWithActiveDisplays(); }});
    platform::scheduleScenarioEvents(scenario.events, dispatcher, distributedCenter, *calendarStore);

    std::optional<ScreenSnapshots> snapshots;
    platform::TimerRef snapshotTimer;
    if (options.snapshotInterval > 0) {
        snapshots.emplace(server, options.snapshots.value_or(platform::cachesDirectory() / "screens"));
        if (!snapshots->prepare()) return 2;
        snapshotTimer = dispatcher.mainQueue()->scheduleTimer(options.snapshotInterval, 0, true,
                                                              [&snapshots] { snapshots->write(); });
    }

    const auto runEvents = [&](platform::Application& app) {
        const auto done = [&app, &signals] { return app.isTerminated() || signals.received(); };
        if (deterministic) {
            double elapsed = 0;
            while (!done() && elapsed < *options.seconds) {
                const double step = std::min(kVirtualStepSeconds, *options.seconds - elapsed);
                deterministic->advance(step);
                elapsed += step;
            }
        } else if (options.seconds) {
            (void)real->runMainUntil(done, *options.seconds);  // done or out of time: both end the run
        } else {
            while (!real->runMainUntil(done, kRealSliceSeconds)) {
            }
        }
        app.terminate();
    };
    platform::Application application(menuBar, [&](platform::Application& app) {
        runEvents(app);
        // What the screen showed at the end, while everything is still on it.
        if (snapshotTimer) snapshotTimer->cancel();
        if (snapshots) snapshots->write();
    });
    application.onTerminate = [&real] {
        if (real) real->stopMain();
    };

    CoordinatorEnvironment environment;
    environment.dispatcher = &dispatcher;
    environment.windowServer = &server;
    environment.application = &application;
    environment.defaults = defaults;
    environment.workspace = desktop.workspace;
    environment.accessibility = desktop.accessibility;
    environment.windowList = desktop.windowList;
    environment.distributedCenter = &distributedCenter;
    environment.calendarStore = calendarStore;
    environment.calendarCenter = &calendarCenter;
    environment.statusSources = std::move(statusSources);

    const int status = runApplication(application, [&environment] { return MossbridgeCoordinator::create(environment); });
    // The run is over: the shared clock must not outlive the dispatcher it ticks on.
    PetAnimationClock::resetSharedForTesting();
    return status;
}

}  // namespace Mossbridge
