#pragma once
// Running the whole application on the in-memory desktop, the only desktop
// there is on Linux: the desktop comes from a scenario file, the screen is
// written as PNG pictures at an interval, and the run can end by itself
// after a number of seconds of real or virtual time (for scripts and CI).
//
// Beside a scenario "<name>.json" two optional companions are used:
//  - "<name>.notifications.json": the notification centre's database for the
//    run (see NotificationDatabaseFixture.h), built afresh at every start
//    under the caches folder;
//  - "<name>.assignments.json": pet assignments in their stored format,
//    written to the user defaults when none are stored yet.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Mossbridge {

struct HeadlessOptions {
    std::optional<std::filesystem::path> scenario;   // none: <resources>/scenarios/desk.json
    std::optional<std::filesystem::path> resources;  // none: see resolveResourcesDirectory
    std::optional<std::filesystem::path> snapshots;  // none: <caches>/screens
    double snapshotInterval = 1.0;                    // seconds; 0: no pictures
    std::optional<double> seconds;                    // none: until quit
    bool virtualTime = false;                         // time moves as fast as the work allows
    bool help = false;
};

struct ParsedArguments {
    std::optional<HeadlessOptions> options;
    std::string error;  // when there are no options
};

// The arguments after the program name.
ParsedArguments parseArguments(const std::vector<std::string>& arguments);
std::string usageText();

// The folder of bundle resources, first that applies: `--resources`, the
// environment variable MOSSBRIDGE_RESOURCES, else "resources" beside the
// executable's folder (the build's bundle: bin/ and resources/). The second
// member says where the answer came from.
std::pair<std::filesystem::path, std::string> resolveResourcesDirectory(const HeadlessOptions& options,
                                                                        const std::filesystem::path& executableFolder);

// Pictures kept in the snapshot folder; older ones are removed.
inline constexpr int kSnapshotsKept = 30;

// Runs until the application quits, the time is up, or SIGINT or SIGTERM
// arrives; each ends the same way (the last picture, then the application's
// shutdown). The exit status: 0, or 2 for bad input (resources, scenario, companions), each reported in
// one "Mossbridge: " line.
int runHeadless(const HeadlessOptions& options, const std::filesystem::path& executableFolder);

}  // namespace Mossbridge
