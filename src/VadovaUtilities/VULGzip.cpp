#include "VadovaUtilities/VULGzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace {

constexpr std::size_t kChunkSize = 16384;
constexpr int kGzipOrZlibWindowBits = 15 + 32;  // auto-detects the header
constexpr int kGzipWindowBits = 15 + 16;        // writes a gzip header

VULDataResult zlibFailure(long code, std::string message) {
    return VULDataResult{std::nullopt, VULError{kVULNSDataZlibErrorDomain, code, std::move(message)}};
}

std::string zlibMessage(const z_stream& stream, int status, const char* fallback) {
    if (stream.msg != nullptr) return std::string(stream.msg) + " (zlib status " + std::to_string(status) + ")";
    return std::string(fallback) + " (zlib status " + std::to_string(status) + ")";
}

// Feeds the next slice of the input; zlib counts input in unsigned ints, so
// buffers larger than that are handed over in several slices.
void refillInput(z_stream& stream, const std::uint8_t*& next, std::size_t& remaining) {
    if (stream.avail_in != 0 || remaining == 0) return;
    const std::size_t slice = std::min<std::size_t>(remaining, UINT_MAX);
    stream.next_in = const_cast<Bytef*>(next);
    stream.avail_in = static_cast<uInt>(slice);
    next += slice;
    remaining -= slice;
}

}  // namespace

VULDataResult vul_dataByInflatingGzippedData(const VULData& data) {
    if (data.empty()) return {};

    z_stream stream{};
    int status = inflateInit2(&stream, kGzipOrZlibWindowBits);
    if (status != Z_OK) return zlibFailure(VULNSDataZlibErrorInternal, zlibMessage(stream, status, "cannot initialise inflate"));

    const std::uint8_t* next = data.data();
    std::size_t remaining = data.size();
    VULData result;
    result.reserve(std::min<std::size_t>(data.size() * 4, std::size_t{64} << 20));
    std::uint8_t chunk[kChunkSize];

    while (status != Z_STREAM_END) {
        refillInput(stream, next, remaining);
        stream.next_out = chunk;
        stream.avail_out = kChunkSize;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            // Z_BUF_ERROR here means the input ended before the stream did.
            std::string message = zlibMessage(stream, status, status == Z_BUF_ERROR ? "truncated stream" : "inflate failed");
            inflateEnd(&stream);
            return zlibFailure(VULNSDataZlibErrorInternal, std::move(message));
        }
        result.insert(result.end(), chunk, chunk + (kChunkSize - stream.avail_out));
    }

    const std::size_t leftOver = stream.avail_in + remaining;
    inflateEnd(&stream);
    if (leftOver != 0) {
        return zlibFailure(VULNSDataZlibErrorDataRemaining,
                           std::to_string(leftOver) + " bytes remain after the end of the stream");
    }
    return VULDataResult{std::move(result), std::nullopt};
}

VULDataResult vul_dataByGzippingData(const VULData& data) {
    z_stream stream{};
    int status = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) return zlibFailure(VULNSDataZlibErrorInternal, zlibMessage(stream, status, "cannot initialise deflate"));

    const std::uint8_t* next = data.data();
    std::size_t remaining = data.size();
    VULData result;
    result.reserve(data.size() / 2 + 32);
    std::uint8_t chunk[kChunkSize];

    do {
        refillInput(stream, next, remaining);
        const int flush = remaining == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = chunk;
            stream.avail_out = kChunkSize;
            status = deflate(&stream, flush);
            if (status == Z_STREAM_ERROR) {
                std::string message = zlibMessage(stream, status, "deflate failed");
                deflateEnd(&stream);
                return zlibFailure(VULNSDataZlibErrorInternal, std::move(message));
            }
            result.insert(result.end(), chunk, chunk + (kChunkSize - stream.avail_out));
        } while (stream.avail_out == 0);
    } while (status != Z_STREAM_END);

    deflateEnd(&stream);
    return VULDataResult{std::move(result), std::nullopt};
}
