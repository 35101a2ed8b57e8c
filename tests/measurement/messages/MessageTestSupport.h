#pragma once
// Helpers shared by the message tests: owned runtime records, byte access and
// output capture.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "measurement/messages/APMPBObject.h"
#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageTypes.h"

// A runtime record freed with its message's free operation.
class OwnedRecord {
public:
    explicit OwnedRecord(const MessageType& type) : type_(&type), info_(measurement::messages::newMessageInfo(type)) {}
    ~OwnedRecord() {
        if (info_ != nullptr) {
            EXPECT_TRUE(APMMessageInfoFree(*type_, info_));
        }
    }
    OwnedRecord(const OwnedRecord&) = delete;
    OwnedRecord& operator=(const OwnedRecord&) = delete;

    MessageInfo* get() const { return info_; }
    MessageInfo** address() { return &info_; }
    bool decode(const std::vector<std::uint8_t>& bytes) {
        return APMMessageInfoDecode(*type_, bytes.data(), bytes.size(), info_);
    }

private:
    const MessageType* type_;
    MessageInfo* info_;
};

inline std::vector<std::uint8_t> encodeRecord(const MessageType& type, const MessageInfo* info) {
    std::uint8_t* buffer = nullptr;
    const std::uint32_t length = APMMessageInfoEncodeToBuffer(type, info, &buffer);
    EXPECT_NE(length, kEncodeFailed) << type.name;
    std::vector<std::uint8_t> bytes;
    if (length != kEncodeFailed) bytes.assign(buffer, buffer + length);
    std::free(buffer);
    return bytes;
}

inline std::vector<std::uint8_t> bytesOf(const std::optional<APMPBData>& data) {
    EXPECT_TRUE(data.has_value());
    return data ? data->toVector() : std::vector<std::uint8_t>{};
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

inline const RepeatedArray& repeatedAt(const MessageInfo* info, int slot) {
    return *static_cast<const RepeatedArray*>(info->fields[slot]);
}

inline const StringRecord& stringAt(const MessageInfo* info, int slot) {
    return *static_cast<const StringRecord*>(info->fields[slot]);
}

// Runs `body` and returns what it wrote to standard output / standard error.
template <typename Body>
std::string stdoutOf(Body&& body) {
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

template <typename Body>
std::string stderrOf(Body&& body) {
    testing::internal::CaptureStderr();
    body();
    return testing::internal::GetCapturedStderr();
}
