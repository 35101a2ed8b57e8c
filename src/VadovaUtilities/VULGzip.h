#pragma once
// gzip on byte buffers, over zlib. Failures carry the domain
// kVULNSDataZlibErrorDomain and one of the codes below.

#include "VadovaUtilities/VULError.h"

inline constexpr const char* kVULNSDataZlibErrorDomain = "com.vadova.VULNSDataZlibErrorDomain";

enum VULNSDataZlibError : long {
    // zlib could not set up a stream, or rejected the bytes (corrupt or
    // truncated input).
    VULNSDataZlibErrorInternal = 1025,
    // A complete stream decoded, but bytes followed its end.
    VULNSDataZlibErrorDataRemaining = 1026,
};

// Inflates one gzip or zlib stream (its header decides which). Empty input
// gives neither data nor an error; any failure gives no data and an error.
VULDataResult vul_dataByInflatingGzippedData(const VULData& data);

// Compresses into one gzip stream at zlib's default level. Empty input gives
// a valid gzip stream of no bytes. A failure gives no data and an error.
VULDataResult vul_dataByGzippingData(const VULData& data);
