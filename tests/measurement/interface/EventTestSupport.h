#pragma once
// Fixtures of the event tests: the monitor's lines, the error events that
// reach the facade's call, remote limits of the test's choosing, and short
// ways to write parameters.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/interface/APMObjectParameters.h"
#include "measurement/interface/APMValidationLimits.h"
#include "measurement/storage/StorageTestSupport.h"

// Readable parameter dictionaries in failure messages.
inline void PrintTo(const APMParameters& parameters, std::ostream* out) { *out << APMObjectDescription(parameters); }

namespace event_test {

using storage_test::MonitorCapture;

struct LoggedEvent {
    std::string origin;
    std::string name;
    APMParameters parameters;
};

// Records what is handed to the facade's internal-event call while it lives.
class InternalEventRecorder {
public:
    InternalEventRecorder() {
        previous_ = APMSetInternalEventLogger(
            [this](const std::string& origin, const std::string& name, const APMParameters& parameters) {
                events_.push_back({origin, name, parameters});
            });
    }
    ~InternalEventRecorder() { APMSetInternalEventLogger(previous_); }
    const std::vector<LoggedEvent>& events() const { return events_; }

private:
    APMInternalEventLogger previous_;
    std::vector<LoggedEvent> events_;
};

// Installs fixed remote limits while it lives.
class LimitsOverride {
public:
    explicit LimitsOverride(APMValidationLimits limits) {
        previous_ = APMSetValidationLimitsSource([limits] { return limits; });
    }
    ~LimitsOverride() { APMSetValidationLimitsSource(previous_); }

private:
    APMValidationLimitsSource previous_;
};

// `count` copies of `unit`.
inline std::string repeated(const std::string& unit, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += unit;
    return text;
}

inline APMObject object(platform::PropertyValue value) { return APMObject(std::move(value)); }

// The lines of `code`, expecting exactly one that starts with the level word
// ("ERROR", "WARNING", ...) and the message.
inline void expectOneLine(const MonitorCapture& capture, long code, const std::string& levelAndMessage) {
    const auto lines = capture.linesWithCode(code);
    ASSERT_EQ(lines.size(), 1u) << "code " << code;
    char codeText[32];
    std::snprintf(codeText, sizeof codeText, "I-ACS%06ld", code);
    const auto space = levelAndMessage.find(' ');
    const std::string expected =
        levelAndMessage.substr(0, space) + " " + codeText + levelAndMessage.substr(space);
    EXPECT_NE(lines.front().find(expected), std::string::npos) << lines.front() << "\nexpected: " << expected;
}

inline std::int64_t intParameter(const APMParameters& parameters, const std::string& name) {
    const APMValue* value = parameters.find(name);
    return value && value->isInt64() ? value->int64Value() : -1;
}

inline std::string stringParameter(const APMParameters& parameters, const std::string& name) {
    const APMValue* value = parameters.find(name);
    return value && value->isString() ? *value->stringValue() : "<absent>";
}

}  // namespace event_test
