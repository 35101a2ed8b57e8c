#pragma once
// Helpers shared by the tests of the message helpers: a recording
// experimentation logger, round trips through the wire and short readers.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/ExperimentLogger.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/StorageTestSupport.h"

using storage_test::MonitorCapture;

struct LoggedLine {
    int level;
    long code;
    std::string message;
    std::optional<std::string> context;
    bool operator==(const LoggedLine&) const = default;
};

class RecordingLogger : public ExperimentLogger {
public:
    void logWithLevel(int level, long code, const std::string& message,
                      const std::optional<std::string>& context) override {
        lines.push_back({level, code, message, context});
    }
    std::vector<LoggedLine> lines;
};

// The message encoded and decoded again, as a reader on the other side of
// the wire or the database sees it.
template <class Wrapper>
std::shared_ptr<Wrapper> throughWire(const Wrapper& message) {
    std::optional<APMPBData> bytes = message.protoBuffer();
    EXPECT_TRUE(bytes.has_value());
    return bytes ? Wrapper::initWithBuffer(bytes->span()) : nullptr;
}

template <class Wrapper>
std::shared_ptr<Wrapper> newMessage() {
    return Wrapper::initWithMessageInfo(nullptr);
}
