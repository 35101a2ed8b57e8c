// Bundles larger than the upload queue takes: their raw events are bundled
// in smaller pieces, never dropped.

#include <sqlite3.h>

#include <set>

#include "EngineTestSupport.h"
#include "measurement/engine/APMMeasurementEventSupport.h"

namespace engine_test {
namespace {

class BundleSize : public EngineFixture {
protected:
    void SetUp() override {
        writeBundleIdentifier();
        startWithoutStartRecords();
    }

    // `count` events of about 50 KB each (a hundred parameters of the
    // longest value) in one clock hour, of one fingerprint whose metadata
    // then grows by `padding` bytes (in its device strings).
    void storeLargeEvents(int count, std::size_t padding) {
        const double hour = 3600.0 * 472222;
        for (int i = 0; i < count; ++i) {
            APMObjectParameters parameters{{"i", PropertyValue(static_cast<long long>(i))}};
            for (int p = 0; p < 99; ++p) parameters.emplace_back("p" + std::to_string(p), PropertyValue(std::string(500, 'x')));
            log("big", std::move(parameters), hour + i);
        }
        const auto database = engine->database();
        const std::int64_t fingerprint = database->allRawEvents().value->front().metadataFingerprint;
        auto metadata =
            APMPBMeasurementBundle::initWithBuffer(*database->queryRawEventsMetadataWithFingerprint(fingerprint).value);
        ASSERT_TRUE(metadata);
        // Strings of at most 1 MiB decode: the padding is spread over three.
        for (int tag : {9, 10, 11}) APMPBSetString(*metadata, bundleSlot(tag), std::string(padding / 3, 'o'));
        const APMBytes padded = APMEncodedMessage(*metadata);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(database->databasePath().c_str(), &db), SQLITE_OK);
        sqlite3_stmt* update = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE raw_events_metadata SET metadata = ?", -1, &update, nullptr), SQLITE_OK);
        sqlite3_bind_blob(update, 1, padded.data(), static_cast<int>(padded.size()), SQLITE_STATIC);
        EXPECT_EQ(sqlite3_step(update), SQLITE_DONE);
        sqlite3_finalize(update);
        sqlite3_close(db);
    }
};

TEST_F(BundleSize, EventsBeyondTheQueueCapAreBundledInPiecesAndNoneIsDropped) {
    struct Case {
        int count;
        std::size_t metadataPadding;  // a bundle whose other fields are large too
    };
    for (const Case& c : {Case{180, 0}, Case{120, 3000000}}) {
        SCOPED_TRACE(c.metadataPadding);
        applySettings({{"measurement.upload.max_batch_size", "10485760"}});
        storeLargeEvents(c.count, c.metadataPadding);
        while (bundle()) {
        }
        EXPECT_TRUE(stored().empty());
        std::set<std::int64_t> bundled;
        for (const auto& b : queued()) {
            EXPECT_LE(APMEncodedMessage(*b).size(), kAPMMaxQueuedBundleBytes);
            for (const auto& event : APMPBGetMessages<APMPBEvent>(*b, MeasurementBundleSlot::Events)) {
                bundled.insert(APMPBGetInt64(*param(*event, "i"), EventParamSlot::IntValue));
            }
        }
        EXPECT_EQ(bundled.size(), static_cast<std::size_t>(c.count));
        EXPECT_EQ(signalCount("raw_event_dropped_count", "bundle_refused"), 0);
        APMError error;
        ASSERT_TRUE(engine->database()->reset(&error));
    }
}

}  // namespace
}  // namespace engine_test
