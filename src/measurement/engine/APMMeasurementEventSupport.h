#pragma once
// Small helpers shared by the files of the event road.

#include <string>

#include "measurement/interface/APMEvent.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMBytes.h"

// A time stamp an event may carry: finite, at least one millisecond and no
// later than the end of the year 9999.
bool APMIsAcceptableEventTimestamp(double seconds);
// The encoded Event message; empty when it cannot be encoded.
APMBytes APMEncodedEvent(const APMEvent& event);
// The encoded message; empty when it cannot be encoded.
APMBytes APMEncodedMessage(const NANOMessageBase& message);
// Whether an encoded MeasurementBundle holds a user property of that name.
bool APMMetadataHasUserAttributeNamed(const APMBytes& encodedBundle, const std::string& name);
// The slot of a MeasurementBundle field named by its wire tag; -1 when none.
int APMBundleSlotForTag(int tag);
