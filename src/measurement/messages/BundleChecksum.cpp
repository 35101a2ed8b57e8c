#include "measurement/messages/BundleChecksum.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMDigest.h"

bool APMSetBundleChecksum(APMPBMeasurementBundle& bundle) {
    // A checksum left from an earlier pass must not feed into the new one.
    std::optional<std::int64_t> earlier;
    if (APMPBHasField(bundle, MeasurementBundleSlot::Checksum)) {
        earlier = APMPBGetInt64(bundle, MeasurementBundleSlot::Checksum);
        APMPBClearField(bundle, MeasurementBundleSlot::Checksum);
    }
    std::optional<APMPBData> encoded = bundle.protoBuffer();
    if (!encoded) {
        if (earlier) {
            APMPBSetInt64(bundle, MeasurementBundleSlot::Checksum, *earlier);
        }
        return false;
    }
    APMPBSetInt64(bundle, MeasurementBundleSlot::Checksum, APM64LSBMD5(encoded->bytes(), encoded->length()));
    return true;
}
