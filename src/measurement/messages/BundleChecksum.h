#pragma once
// The bundle checksum (field 47): the 64 least significant bits of the MD5
// digest of the bundle encoded just before the checksum is written, so it
// covers every other field in its state at that moment.

#include "measurement/messages/APMPBMessages.h"

// False, leaving the bundle unchanged, when the bundle cannot be encoded.
[[nodiscard]] bool APMSetBundleChecksum(APMPBMeasurementBundle& bundle);
