#pragma once
// What the upload tests read back from a posted body: the batch decoded by
// the message layer, and the same bytes decoded by protoc against the schema
// (an independent decoder), and small readers of bundle and event fields.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "VadovaUtilities/LoopbackServer.h"
#include "VadovaUtilities/VULReachability.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"

namespace upload_test {

// The queued rows' retry counts (field 39, 0 when absent), oldest first.
inline std::vector<std::int32_t> queuedRetryCounts(APMDatabase& database) {
    std::vector<std::int32_t> counts;
    auto rows = database.queryBundlesWithCountLimit(1000, 1 << 30);
    for (const auto& row : rows.value.value_or(std::vector<APMQueuedBundle>{})) {
        counts.push_back(APMPBGetInt32(*APMPBMeasurementBundle::initWithBuffer(row.bundle),
                                       MeasurementBundleSlot::UploadRetryCount));
    }
    return counts;
}

// The network is always reachable.
class FixedReachability final : public VULReachability {
public:
    bool isReachable() const override { return true; }
    void setChangeHandler(std::function<void()>) override {}
};

// A server on 127.0.0.1 that misbehaves at the byte level: it reads each
// request whole, writes `reply` as given (a cut-off or malformed answer) and
// closes the connection. With `answer` false it listens without ever
// accepting, so a request waits until the client's time-out.
class RawServer {
public:
    explicit RawServer(std::string reply, bool answer = true) : reply_(std::move(reply)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(listener_, 8), 0);
        EXPECT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        port_ = ntohs(address.sin_port);
        if (answer) thread_ = std::thread([this] { serve(); });
    }
    ~RawServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        if (thread_.joinable()) thread_.join();
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void serve() {
        for (;;) {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            std::string request;
            char buffer[4096];
            std::size_t wanted = std::string::npos;
            while (wanted == std::string::npos || request.size() < wanted) {
                const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, static_cast<std::size_t>(got));
                const auto end = request.find("\r\n\r\n");
                if (wanted == std::string::npos && end != std::string::npos) {
                    const auto field = request.find("Content-Length: ");
                    const std::size_t body = field == std::string::npos ? 0 : std::stoul(request.substr(field + 16));
                    wanted = end + 4 + body;
                }
            }
            (void)::send(connection, reply_.data(), reply_.size(), MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    std::string reply_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// The bundles of a posted batch, decoded by the message layer; empty (with
// a test failure) when the request was not a gzip-compressed MeasurementBatch.
// The server's own zlib has already inflated the body.
inline std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundlesOf(const ReceivedRequest& request) {
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    const auto batch = APMPBMeasurementBatch::initWithBuffer(
        std::span(reinterpret_cast<const std::uint8_t*>(request.body.data()), request.body.size()));
    EXPECT_TRUE(batch) << "the body is not a MeasurementBatch";
    if (!batch) return {};
    return APMPBGetMessages<APMPBMeasurementBundle>(*batch, 0);
}

inline std::vector<std::shared_ptr<APMPBEvent>> eventsOf(const APMPBMeasurementBundle& bundle) {
    return APMPBGetMessages<APMPBEvent>(bundle, MeasurementBundleSlot::Events);
}

inline std::vector<std::string> eventNamesOf(const APMPBMeasurementBundle& bundle) {
    std::vector<std::string> names;
    for (const auto& event : eventsOf(bundle)) names.push_back(APMPBGetString(*event, EventSlot::Name).value_or(""));
    return names;
}

// protoc's text form of the body (`protoc --decode`), or none when protoc
// refuses it. The schema and protoc come from the build.
inline std::optional<std::string> protocDecodedBody(const std::string& body, const std::filesystem::path& folder) {
    const auto input = folder / "batch.bin";
    const auto output = folder / "batch.txt";
    std::ofstream(input, std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
    const std::string command = std::string(UPLOAD_TEST_PROTOC) + " -I " + UPLOAD_TEST_PROTO_DIR +
                                " --decode=mossbridge.measurement.MeasurementBatch " + UPLOAD_TEST_PROTO_DIR + "/measurement.proto < " +
                                input.string() + " > " + output.string() + " 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(output);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (status != 0) {
        ADD_FAILURE() << "protoc refused the body: " << text;
        return std::nullopt;
    }
    return text;
}

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

}  // namespace upload_test
