#pragma once
// A notification-centre database for runs without a display, built from a
// JSON text beside the scenario (nothing binary is kept in the tree):
//
//   {"records": [{"app": "com.example.chat", "recordID": 41, "delivered": -90,
//                 "title": "Ana", "subtitle": "Lunch", "body": "Noon?"}]}
//
// `delivered` is in seconds relative to the start of the run (negative:
// before it); "subtitle" and "body" are optional, and so is "title". The
// file gets the tables `app` and `record` and binary property-list payloads
// {"req": {"titl", "subt", "body"}}, as the notification centre keeps them.

#include <filesystem>
#include <optional>
#include <string>

namespace Mossbridge {

// Writes the database to `database` (replacing any file there), dating the
// records from `startWallSeconds`. None on success, else what went wrong,
// prefixed with the path of the bad JSON value when it lies there.
[[nodiscard]] std::optional<std::string> buildNotificationDatabase(const std::filesystem::path& fixture,
                                                                   const std::filesystem::path& database,
                                                                   double startWallSeconds);

}  // namespace Mossbridge
