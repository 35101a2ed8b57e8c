#pragma once
// The measurement monitor: leveled diagnostic lines with numeric codes.
//
// Levels 0-2 are errors ("ERROR"), 3-5 warnings ("WARNING"), 6 notices
// ("NOTICE"), 7 debug lines ("DEBUG", shown in debug mode or with verbose
// logging) and 8 verbose lines ("VERBOSE", shown only with verbose logging).
// A shown line reads "<tag> <LEVEL> I-ACS%06ld <message>": each "%@" (or a
// printf integer/real conversion such as "%lld", "%d") in the message takes the
// next context's text, and contexts left over follow as ", <text>". Errors and
// warnings are also counted as monitoring samples, which the engine uploads.
// Logging never fails and is safe from any thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Clock.h"

namespace platform {
class UserDefaults;
}

struct APMError;
class APMValue;

// One context value of a log line, held as its text.
class APMLogContext {
public:
    APMLogContext(std::string text) : text_(std::move(text)) {}
    APMLogContext(std::string_view text) : text_(text) {}
    APMLogContext(const char* text) : text_(text ? text : "(null)") {}
    APMLogContext(int number);
    APMLogContext(long number);
    APMLogContext(long long number);
    APMLogContext(unsigned long number);
    APMLogContext(unsigned long long number);
    APMLogContext(double number);
    APMLogContext(bool flag);
    APMLogContext(const APMError& error);
    APMLogContext(const APMValue& value);

    const std::string& text() const { return text_; }

private:
    std::string text_;
};

class APMMonitor {
public:
    // Receives every shown line (without a trailing newline).
    using Sink = std::function<void(const std::string& line)>;

    struct Options {
        std::int64_t libraryVersion = 0;
        // The process's launch arguments decide the modes: "-RADOdodavaziDebugEnabled"
        // or "-APMAnalyticsDebugEnabled" switch debug mode on, their "-no" forms
        // off; "-RADOdodavaziVerboseLoggingEnabled" / "-APMAnalyticsVerboseLoggingEnabled"
        // switch verbose logging on, the "...Disabled" forms off. The choice is
        // remembered in the standard user defaults for later launches.
        std::vector<std::string> launchArguments;
        // Where the remembered choices live; default: the standard user defaults.
        std::shared_ptr<platform::UserDefaults> userDefaults;
        Sink sink;                        // default: standard error
        platform::Clock* clock = nullptr; // default: the system clock
    };

    explicit APMMonitor(std::int64_t libraryVersion);
    explicit APMMonitor(Options options);

    // The process's monitor (the engine's `monitor`), created on first use
    // from the process's launch arguments.
    static std::shared_ptr<APMMonitor> shared();
    // Test hook: installs `replacement` as the shared monitor (null: the next
    // shared() creates a fresh one).
    static void resetSharedForTesting(std::shared_ptr<APMMonitor> replacement = nullptr);

    void log(int level, long code, std::string_view message);
    void log(int level, long code, std::string_view message, const APMLogContext& context);
    void log(int level, long code, std::string_view message, const APMLogContext& context1,
             const APMLogContext& context2);
    void log(int level, long code, std::string_view message, const APMLogContext& context1,
             const APMLogContext& context2, const APMLogContext& context3);
    void log(int level, long code, std::string_view message, const std::vector<std::string>& contexts);

    // Whether a line of `level` is shown now.
    bool isLoggable(int level) const;

    void setLogTag(std::string tag);
    std::string logTag() const;
    // Debug mode: from the launch arguments and user defaults, or switched on
    // by server-side tagging's debug link.
    bool isDebugModeEnabled() const;
    bool isVerboseLoggingEnabled() const;
    void setSVTMDebugModeEnabled(bool enabled);
    // When on (store builds), contexts of shown lines are written base64-encoded
    // unless debug mode or verbose logging is on.
    void setEncodeContexts(bool encode);

    std::int64_t libraryVersion() const { return libraryVersion_; }

    // The kept samples as one text, "v<library version>" followed by
    // ";<code>:<count>" per code in ascending order, and drops them; empty when
    // nothing was kept or less than `samplePeriodSeconds` has passed since
    // `lastSampledTimestamp` (seconds since 1970).
    std::string monitoringDataForDispatch(double samplePeriodSeconds, double lastSampledTimestamp);
    // The same text and the counts it holds, leaving the samples in place
    // until `dropDispatchedSamples` removes those counts (once the bundle
    // that carries them is stored).
    struct MonitoringData {
        std::string text;
        std::map<long, std::uint64_t> counts;
    };
    MonitoringData peekMonitoringData(double samplePeriodSeconds, double lastSampledTimestamp) const;
    void dropDispatchedSamples(const std::map<long, std::uint64_t>& counts);
    void clearMonitoringData();

private:
    void emit(int level, long code, std::string_view message, const std::vector<std::string>& contexts);

    const std::int64_t libraryVersion_;
    const Sink sink_;
    platform::Clock& clock_;
    mutable std::mutex mutex_;
    std::string logTag_;
    bool debugMode_ = false;
    bool verboseLogging_ = false;
    bool svtmDebugMode_ = false;
    bool encodeContexts_ = false;
    std::map<long, std::uint64_t> samples_;
};
