// The first open's "_fot" property and its "_f" event land together: a
// process killed while writing the event leaves neither, and the next start
// reports the first open.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "EngineTestSupport.h"

namespace engine_test {
namespace {

using FirstOpenDurability = EngineFixture;

std::size_t countNamed(const std::vector<APMRawEventRecord>& events, const std::string& name) {
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(), [&](const APMRawEventRecord& event) { return event.name == name; }));
}

TEST_F(FirstOpenDurability, AKillWhileWritingTheFirstOpenEventLeavesNeitherAndTheNextStartReportsIt) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        APMMeasurementConfiguration config = configuration();
        // Asked while a raw event's metadata is built, inside its write transaction.
        config.seams.metadataLinkageBits = []() -> std::int32_t {
            raise(SIGKILL);
            return 0;
        };
        engine = APMMeasurement::create(kAppID, true, false, {}, std::move(config));
        dispatcher.drain();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "no event was written";
    {
        const auto database = openDatabase();
        ASSERT_TRUE(database);
        EXPECT_EQ(database->containsUserAttributeWithName("_fot").value, false);
        EXPECT_EQ(database->allRawEvents().value->size(), 0u);
    }

    start();
    EXPECT_EQ(engine->database()->containsUserAttributeWithName("_fot").value, true);
    EXPECT_EQ(countNamed(*engine->database()->allRawEvents().value, "_f"), 1u);
}

}  // namespace
}  // namespace engine_test
