#include "measurement/storage/APMAppMetadata.h"

#include "measurement/storage/APMMonitor.h"

namespace {
constexpr std::int64_t kIndexLimit = 2147483648LL;  // 2^31
}

void APMAppMetadata::increaseLastBundleIndex(std::int64_t count) {
    std::int64_t sum = lastBundleIndex + count;
    if (sum >= kIndexLimit) {
        APMMonitor::shared()->log(5, 4001, "Bundle index overflow. Bundle index wraparound.");
        lastBundleIndex = count - 1;
        return;
    }
    lastBundleIndex = sum;
}

void APMAppMetadata::incrementLastDeliveryIndex() {
    if (lastDeliveryIndex + 1 >= kIndexLimit) {
        APMMonitor::shared()->log(5, 4002, "Delivery index overflow. Delivery index reset to 0.");
        lastDeliveryIndex = 0;
        return;
    }
    ++lastDeliveryIndex;
}
