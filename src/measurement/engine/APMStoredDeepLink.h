#pragma once
// The link that opened the application at launch, kept in the shared
// measurement user defaults until the engine can report it: the link, the
// time it was stored and the referrer, written and removed together.

#include <cstdint>
#include <optional>
#include <string>

class APMUserDefaults;

inline constexpr const char* kAPMDeepLinkKey = "/vadova/measurement/deep_link";
inline constexpr const char* kAPMDeepLinkTimestampKey = "/vadova/measurement/deep_link_timestamp_seconds";
inline constexpr const char* kAPMDeepLinkReferrerKey = "/vadova/measurement/deep_link_referrer";

// Stores the link with `now` (seconds since 1970); no referrer removes the
// stored one.
void APMStoreDeepLink(APMUserDefaults& defaults, const std::string& url, const std::optional<std::string>& referrer,
                      double now);
// A string link with a number time.
bool APMHasStoredDeepLink(const APMUserDefaults& defaults);
// A stored time more than `timeToLive` seconds away from `now` (either way).
bool APMIsStoredDeepLinkExpired(const APMUserDefaults& defaults, double timeToLive, double now);
void APMClearStoredDeepLink(APMUserDefaults& defaults);
// Clears an expired link; true when it did.
bool APMClearStoredDeepLinkIfExpired(APMUserDefaults& defaults, double timeToLive, double now);
// The start of the hour before `milliseconds` (truncated toward zero).
std::int64_t APMPreviousHourStartMillis(std::int64_t milliseconds);
