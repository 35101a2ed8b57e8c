#pragma once
// A notification-centre database for runs without a display, built from a
// JSON text beside the scenario (nothing binary is kept in the tree):
//
//   {"records": [{"app": "com.example.chat", "recordID": 41, "delivered": -90,
//                 "title": "Ana", "subtitle": "Lunch", "body": "Noon?"}]}
//
// `delivered` is in seconds relative to the start of the run (negative:
// before it; positive: the record arrives during the run); "subtitle" and
// "body" are optional, and so is "title". The file gets the tables `app` and
// `record` and binary property-list payloads {"req": {"titl", "subt",
// "body"}}, as the notification centre keeps them.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Mossbridge {

// Writes the database as it stands `elapsedSeconds` into the run (the records
// delivered by then) to `database`, dating the records from
// `startWallSeconds`. The file is replaced in one step, so a reader sees the
// old database or the new one, never a part. None on success, else what went
// wrong, prefixed with the path of the bad JSON value when it lies there.
[[nodiscard]] std::optional<std::string> buildNotificationDatabase(const std::filesystem::path& fixture,
                                                                   const std::filesystem::path& database,
                                                                   double startWallSeconds,
                                                                   double elapsedSeconds = 0);

// The moments after the start, in seconds, at which records of the fixture
// arrive: ascending, each once; empty when there are none or the fixture
// cannot be read.
std::vector<double> notificationArrivalTimes(const std::filesystem::path& fixture);

}  // namespace Mossbridge
