#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "measurement/storage/APMAppMetadata.h"
#include "measurement/storage/APMDailyCounts.h"
#include "measurement/storage/APMDiagnosticsCounts.h"

using storage_test::MonitorCapture;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Pair;

TEST(DailyCounts, IncrementsWithinTheDay) {
    APMDailyCounts counts(100, 0, 0, 0, 0, 0, 0);
    counts.incrementCountsForCurrentDay(100, true, true);
    counts.incrementCountsForCurrentDay(100, false, false, 3);
    counts.incrementErrorEventsCountForCurrentDay(100);
    counts.incrementRealtimeCountsForCurrentDay(100);
    counts.incrementDCURealtimeCountsForCurrentDay(100);
    EXPECT_EQ(counts, APMDailyCounts(100, 1, 5, 1, 1, 1, 1));
}

TEST(DailyCounts, ANewDayStartsFromZeroBeforeCounting) {
    APMDailyCounts counts(100, 4, 9, 8, 2, 5, 6);
    counts.incrementRealtimeCountsForCurrentDay(101);
    EXPECT_EQ(counts, APMDailyCounts(101, 0, 0, 0, 0, 1, 0));
    counts.incrementCountsForCurrentDay(102, true, false, 2);
    EXPECT_EQ(counts, APMDailyCounts(102, 0, 2, 2, 0, 0, 0));
}

TEST(DailyCounts, DecrementNeverGoesBelowZero) {
    APMDailyCounts counts(1, 0, 1, 0, 0, 0, 0);
    counts.decrementAllEventsCount();
    counts.decrementAllEventsCount();
    EXPECT_EQ(counts.allEventsCount(), 0);
}

TEST(AppMetadata, BundleIndexWrapsAroundAtTheThirtyTwoBitLimit) {
    MonitorCapture capture;
    APMAppMetadata metadata;
    metadata.lastBundleIndex = 2147483640;
    metadata.increaseLastBundleIndex(7);
    EXPECT_EQ(metadata.lastBundleIndex, 2147483647);
    metadata.increaseLastBundleIndex(3);
    EXPECT_EQ(metadata.lastBundleIndex, 2);
    EXPECT_THAT(capture.linesWithCode(4001),
                ElementsAre(HasSubstr("WARNING I-ACS004001 Bundle index overflow. Bundle index wraparound.")));
}

TEST(AppMetadata, DeliveryIndexRestartsAtZero) {
    MonitorCapture capture;
    APMAppMetadata metadata;
    metadata.lastDeliveryIndex = 2147483646;
    metadata.incrementLastDeliveryIndex();
    EXPECT_EQ(metadata.lastDeliveryIndex, 2147483647);
    metadata.incrementLastDeliveryIndex();
    EXPECT_EQ(metadata.lastDeliveryIndex, 0);
    EXPECT_EQ(capture.linesWithCode(4002).size(), 1u);
}

TEST(DiagnosticsCounts, CountsFromSeveralThreadsAndCopiesAreSnapshots) {
    APMDiagnosticsCounts counts;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) counts.incrementCountBy(1, "invalid_param_value");
        });
    }
    for (auto& thread : threads) thread.join();
    APMDiagnosticsCounts copy = counts;
    counts.incrementCountBy(2, "too_many_params");
    EXPECT_THAT(copy.allCounts(), ElementsAre(Pair("invalid_param_value", 4000)));
    EXPECT_THAT(counts.allCounts(), ElementsAre(Pair("invalid_param_value", 4000), Pair("too_many_params", 2)));
}
