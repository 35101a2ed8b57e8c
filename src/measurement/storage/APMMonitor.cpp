#include "measurement/storage/APMMonitor.h"

#include <algorithm>
#include <cstdio>

#include <openssl/evp.h>

#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMError.h"
#include "measurement/storage/APMSharedInstance.h"
#include "measurement/storage/APMValue.h"
#include "platform/core/UserDefaults.h"

APMLogContext::APMLogContext(int number) : text_(std::to_string(number)) {}
APMLogContext::APMLogContext(long number) : text_(std::to_string(number)) {}
APMLogContext::APMLogContext(long long number) : text_(std::to_string(number)) {}
APMLogContext::APMLogContext(unsigned long number) : text_(std::to_string(number)) {}
APMLogContext::APMLogContext(unsigned long long number) : text_(std::to_string(number)) {}
APMLogContext::APMLogContext(double number) : text_(APMDecimalText(number)) {}
APMLogContext::APMLogContext(bool flag) : text_(flag ? "1" : "0") {}
APMLogContext::APMLogContext(const APMError& error) : text_(error.text()) {}
APMLogContext::APMLogContext(const APMValue& value) : text_(value.description()) {}

namespace {

const char* const kDefaultLogTag = "[VeredodaAnalytics]";
const char* const kDebugModeKey = "/vadova/measurement/debug_mode";
const char* const kVerboseLoggingKey = "/vadova/measurement/verbose_logging";
// The library version the engine reports (the identity's build number).
const std::int64_t kProcessLibraryVersion = 121800;

const char* levelName(int level) {
    if (level <= 2) return "ERROR";
    if (level <= 5) return "WARNING";
    if (level == 6) return "NOTICE";
    if (level == 7) return "DEBUG";
    return "VERBOSE";
}

bool hasArgument(const std::vector<std::string>& arguments, const char* argument) {
    return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

// A mode switched by launch arguments and remembered in user defaults: an
// "on" argument stores the choice, an "off" argument removes it, and without
// either the remembered choice holds.
bool resolveMode(const std::vector<std::string>& arguments, platform::UserDefaults& defaults, const char* key,
                 std::initializer_list<const char*> onArguments, std::initializer_list<const char*> offArguments) {
    for (const char* off : offArguments) {
        if (hasArgument(arguments, off)) {
            // The mode holds for this run either way; a failed write is
            // retried by the next launch that passes the argument.
            (void)defaults.remove(key);
            return false;
        }
    }
    for (const char* on : onArguments) {
        if (hasArgument(arguments, on)) {
            (void)defaults.set(key, true);
            return true;
        }
    }
    return defaults.boolean(key).value_or(false);
}

std::string base64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return out;
}

bool isConversionLetter(char c) {
    return std::string_view("dioux@fegsc").find(c) != std::string_view::npos;
}

// Replaces each "%@" or printf conversion with the next context; leftover
// contexts follow as ", <text>".
std::string formatMessage(std::string_view message, const std::vector<std::string>& contexts) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] != '%' || i + 1 >= message.size()) {
            out += message[i];
            continue;
        }
        if (message[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < message.size() && std::string_view("lhqzt0123456789.-+ #").find(message[j]) != std::string_view::npos)
            ++j;
        if (j < message.size() && isConversionLetter(message[j]) && next < contexts.size()) {
            out += contexts[next++];
            i = j;
        } else {
            out += message[i];
        }
    }
    for (; next < contexts.size(); ++next) out += ", " + contexts[next];
    return out;
}

APMMonitor::Options optionsWithVersion(std::int64_t libraryVersion, std::vector<std::string> launchArguments) {
    APMMonitor::Options options;
    options.libraryVersion = libraryVersion;
    options.launchArguments = std::move(launchArguments);
    return options;
}

}  // namespace

APMMonitor::APMMonitor(std::int64_t libraryVersion) : APMMonitor(optionsWithVersion(libraryVersion, {})) {}

APMMonitor::APMMonitor(Options options)
    : libraryVersion_(options.libraryVersion),
      sink_(options.sink ? std::move(options.sink)
                         : Sink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); })),
      clock_(options.clock ? *options.clock : platform::systemClock()),
      logTag_(kDefaultLogTag) {
    auto defaults = options.userDefaults ? options.userDefaults : platform::UserDefaults::standard();
    const auto& arguments = options.launchArguments;
    debugMode_ = resolveMode(arguments, *defaults, kDebugModeKey,
                             {"-RADOdodavaziDebugEnabled", "-APMAnalyticsDebugEnabled"},
                             {"-noRADOdodavaziDebugEnabled", "-noAPMAnalyticsDebugEnabled"});
    verboseLogging_ = resolveMode(arguments, *defaults, kVerboseLoggingKey,
                                  {"-RADOdodavaziVerboseLoggingEnabled", "-APMAnalyticsVerboseLoggingEnabled"},
                                  {"-RADOdodavaziVerboseLoggingDisabled", "-APMAnalyticsVerboseLoggingDisabled"});
}

std::shared_ptr<APMMonitor> APMMonitor::shared() {
    return APMSharedInstance<APMMonitor>::currentOrMake([] {
        return std::make_shared<APMMonitor>(optionsWithVersion(kProcessLibraryVersion, APMProcessLaunchArguments()));
    });
}

void APMMonitor::resetSharedForTesting(std::shared_ptr<APMMonitor> replacement) {
    APMSharedInstance<APMMonitor>::replace(std::move(replacement));
}

void APMMonitor::log(int level, long code, std::string_view message) { emit(level, code, message, {}); }

void APMMonitor::log(int level, long code, std::string_view message, const APMLogContext& context) {
    emit(level, code, message, {context.text()});
}

void APMMonitor::log(int level, long code, std::string_view message, const APMLogContext& context1,
                     const APMLogContext& context2) {
    emit(level, code, message, {context1.text(), context2.text()});
}

void APMMonitor::log(int level, long code, std::string_view message, const APMLogContext& context1,
                     const APMLogContext& context2, const APMLogContext& context3) {
    emit(level, code, message, {context1.text(), context2.text(), context3.text()});
}

void APMMonitor::log(int level, long code, std::string_view message, const std::vector<std::string>& contexts) {
    emit(level, code, message, contexts);
}

bool APMMonitor::isLoggable(int level) const {
    std::lock_guard lock(mutex_);
    if (level <= 6) return true;
    if (level == 7) return debugMode_ || svtmDebugMode_ || verboseLogging_;
    return verboseLogging_;
}

void APMMonitor::emit(int level, long code, std::string_view message, const std::vector<std::string>& contexts) {
    level = std::clamp(level, 0, 8);
    std::string line;
    {
        std::lock_guard lock(mutex_);
        if (level <= 5) ++samples_[code];
        bool shown = level <= 6 || (level == 7 && (debugMode_ || svtmDebugMode_ || verboseLogging_)) ||
                     (level == 8 && verboseLogging_);
        if (!shown) return;
        bool encode = encodeContexts_ && !debugMode_ && !svtmDebugMode_ && !verboseLogging_;
        std::vector<std::string> texts = contexts;
        if (encode) {
            for (auto& text : texts) text = base64(text);
        }
        char codeText[32];
        std::snprintf(codeText, sizeof codeText, "I-ACS%06ld", code);
        line = logTag_ + " " + levelName(level) + " " + codeText + " " + formatMessage(message, texts);
    }
    sink_(line);
}

void APMMonitor::setLogTag(std::string tag) {
    std::lock_guard lock(mutex_);
    logTag_ = std::move(tag);
}

std::string APMMonitor::logTag() const {
    std::lock_guard lock(mutex_);
    return logTag_;
}

bool APMMonitor::isDebugModeEnabled() const {
    std::lock_guard lock(mutex_);
    return debugMode_ || svtmDebugMode_;
}

bool APMMonitor::isVerboseLoggingEnabled() const {
    std::lock_guard lock(mutex_);
    return verboseLogging_;
}

void APMMonitor::setSVTMDebugModeEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    svtmDebugMode_ = enabled;
}

void APMMonitor::setEncodeContexts(bool encode) {
    std::lock_guard lock(mutex_);
    encodeContexts_ = encode;
}

std::string APMMonitor::monitoringDataForDispatch(double samplePeriodSeconds, double lastSampledTimestamp) {
    MonitoringData data = peekMonitoringData(samplePeriodSeconds, lastSampledTimestamp);
    dropDispatchedSamples(data.counts);
    return data.text;
}

APMMonitor::MonitoringData APMMonitor::peekMonitoringData(double samplePeriodSeconds,
                                                          double lastSampledTimestamp) const {
    double now = clock_.now();
    std::lock_guard lock(mutex_);
    if (samples_.empty()) return {};
    if (lastSampledTimestamp > 0 && now - lastSampledTimestamp < samplePeriodSeconds) return {};
    MonitoringData data{"v" + std::to_string(libraryVersion_), samples_};
    for (const auto& [code, count] : samples_) data.text += ";" + std::to_string(code) + ":" + std::to_string(count);
    return data;
}

void APMMonitor::dropDispatchedSamples(const std::map<long, std::uint64_t>& counts) {
    std::lock_guard lock(mutex_);
    for (const auto& [code, count] : counts) {
        const auto kept = samples_.find(code);
        if (kept == samples_.end()) continue;
        // Samples counted after the peek stay for the next bundle.
        if (kept->second > count) {
            kept->second -= count;
        } else {
            samples_.erase(kept);
        }
    }
}

void APMMonitor::clearMonitoringData() {
    std::lock_guard lock(mutex_);
    samples_.clear();
}
