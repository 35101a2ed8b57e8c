// A writer process killed with SIGKILL in the middle of a stream of event
// transactions loses no event whose transaction had committed.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::bytesOf;
using storage_test::TemporaryFolder;

namespace {

constexpr int kAcknowledgementsBeforeKill = 300;

// Runs in the child: one transaction per event, each acknowledged on the
// pipe only after it committed. Never returns.
[[noreturn]] void writeEventsForever(const std::string& path, int acknowledgements) {
    auto db = APMDatabase::openAtPath(path, nullptr);
    if (!db) _exit(2);
    for (std::int32_t i = 0; i < 1000000; ++i) {
        bool committed = db->performTransaction([&] {
            auto counts = db->dailyCounts();
            if (!counts.value) return false;
            counts.value->incrementCountsForCurrentDay(1, true, false);
            return db->insertIfNotExistsRawEventMetadata(bytesOf("metadata"), nullptr) &&
                   db->insertRawEvent("event" + std::to_string(i), i, bytesOf("payload"), 7, false, nullptr) &&
                   db->updateDailyCounts(*counts.value, nullptr);
        });
        if (!committed) _exit(3);
        if (write(acknowledgements, &i, sizeof i) != sizeof i) _exit(4);
    }
    _exit(0);
}

TEST(CrashDurability, KilledWriterLosesNoCommittedEvent) {
    TemporaryFolder folder;
    const std::string path = (folder.path() / "measurement.sql").string();
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        close(pipeEnds[0]);
        writeEventsForever(path, pipeEnds[1]);
    }
    close(pipeEnds[1]);

    std::int32_t lastCommitted = -1;
    std::int32_t acknowledged;
    int received = 0;
    while (received < kAcknowledgementsBeforeKill &&
           read(pipeEnds[0], &acknowledged, sizeof acknowledged) == sizeof acknowledged) {
        lastCommitted = acknowledged;
        ++received;
    }
    ASSERT_EQ(received, kAcknowledgementsBeforeKill) << "the writer stopped early";
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    // Acknowledgements written before the kill landed are committed too.
    while (read(pipeEnds[0], &acknowledged, sizeof acknowledged) == sizeof acknowledged) lastCommitted = acknowledged;
    close(pipeEnds[0]);

    APMError error;
    auto db = APMDatabase::openAtPath(path, &error);
    ASSERT_TRUE(db) << error.text();
    auto events = db->allRawEvents();
    ASSERT_TRUE(events.value);
    ASSERT_GE(static_cast<std::int64_t>(events.value->size()), lastCommitted + 1);
    for (std::size_t i = 0; i < events.value->size(); ++i) {
        ASSERT_EQ((*events.value)[i].name, "event" + std::to_string(i)) << "no gap and no partial event";
    }
    // Each committed transaction kept its counter in step with its event.
    EXPECT_EQ(db->dailyCounts().value->allEventsCount(), static_cast<std::int32_t>(events.value->size()));
}

}  // namespace
