#include "measurement/engine/APMMeasurement.h"

bool APMMeasurement::bundleRawEvents() { return false; }
