// A bundle whose compression fails keeps its raw events for the next run.
//
// zlib's deflate initialisation is interposed in this test executable: it
// fails while `gDeflateFails` is set and otherwise calls zlib's own.

#include <dlfcn.h>
#include <zlib.h>

#include "EngineTestSupport.h"

namespace {

bool gDeflateFails = false;

}  // namespace

extern "C" int deflateInit2_(z_streamp stream, int level, int method, int windowBits, int memLevel, int strategy,
                             const char* version, int streamSize) {
    using Real = int (*)(z_streamp, int, int, int, int, int, const char*, int);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "deflateInit2_"));
    if (gDeflateFails || !real) return Z_MEM_ERROR;
    return real(stream, level, method, windowBits, memLevel, strategy, version, streamSize);
}

namespace engine_test {
namespace {

class BundleCompression : public EngineFixture {
protected:
    void SetUp() override {
        writeBundleIdentifier();
        startWithoutStartRecords();
    }
    void TearDown() override { gDeflateFails = false; }
};

TEST_F(BundleCompression, AFailedCompressionKeepsTheRawEvents) {
    log("one");
    log("two");
    gDeflateFails = true;
    EXPECT_FALSE(bundle());
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(signalCount("raw_event_dropped_count", "bundle_refused"), 0);

    gDeflateFails = false;
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(stored().empty());
    ASSERT_EQ(queued().size(), 1u);
}

}  // namespace
}  // namespace engine_test
