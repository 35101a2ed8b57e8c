#include "VadovaUtilities/VULGzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/core/Process.h"

namespace {

VULData bytesOf(const std::string& text) { return VULData(text.begin(), text.end()); }

VULData randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    VULData bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

std::string gzipTool() {
    for (const char* path : {"/usr/bin/gzip", "/bin/gzip"}) {
        if (std::filesystem::exists(path)) return path;
    }
    return {};
}

// Runs the system's gzip with `arguments`, feeding `input`; answers stdout.
std::string runGzip(const std::vector<std::string>& arguments, const VULData& input) {
    platform::ProcessRequest request;
    request.executablePath = gzipTool();
    request.arguments = arguments;
    request.standardInput = std::string(input.begin(), input.end());
    const platform::ProcessResult result = platform::runProcess(request);
    EXPECT_TRUE(result.exitedSuccessfully()) << result.standardError << result.errorDescription;
    return result.standardOutput;
}

void expectZlibError(const VULDataResult& result, long code) {
    EXPECT_FALSE(result.data.has_value());
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(result.error->domain, "com.vadova.VULNSDataZlibErrorDomain");
    EXPECT_EQ(result.error->code, code);
}

// ---- deflate ----------------------------------------------------------------

TEST(Gzip, CompressedDataIsReadableByTheGzipTool) {
    if (gzipTool().empty()) GTEST_SKIP() << "no gzip tool";
    for (const VULData& original : {bytesOf("measurement batch"), randomBytes(200000, 7), VULData(100000, 'a')}) {
        const VULDataResult compressed = vul_dataByGzippingData(original);
        ASSERT_TRUE(compressed.data.has_value());
        EXPECT_FALSE(compressed.error.has_value());
        EXPECT_EQ(runGzip({"-dc"}, *compressed.data), std::string(original.begin(), original.end()));
    }
}

TEST(Gzip, CompressingNothingGivesAValidEmptyGzipStream) {
    const VULDataResult compressed = vul_dataByGzippingData({});
    ASSERT_TRUE(compressed.data.has_value());
    ASSERT_GE(compressed.data->size(), 18u);  // header and trailer
    EXPECT_EQ((*compressed.data)[0], 0x1f);
    EXPECT_EQ((*compressed.data)[1], 0x8b);
    if (!gzipTool().empty()) {
        EXPECT_EQ(runGzip({"-dc"}, *compressed.data), "");
    }
}

// ---- inflate ----------------------------------------------------------------

TEST(Gzip, RoundTripsDataLargerThanOneChunk) {
    const VULData original = randomBytes(300000, 11);
    const VULDataResult inflated = vul_dataByInflatingGzippedData(*vul_dataByGzippingData(original).data);
    ASSERT_TRUE(inflated.data.has_value());
    EXPECT_FALSE(inflated.error.has_value());
    EXPECT_EQ(*inflated.data, original);
}

TEST(Gzip, InflatesWhatTheGzipToolWrote) {
    if (gzipTool().empty()) GTEST_SKIP() << "no gzip tool";
    const std::string compressed = runGzip({"-c"}, bytesOf("written by the tool"));
    const VULDataResult inflated = vul_dataByInflatingGzippedData(bytesOf(compressed));
    ASSERT_TRUE(inflated.data.has_value());
    EXPECT_EQ(*inflated.data, bytesOf("written by the tool"));
}

TEST(Gzip, InflatesZlibStreamsToo) {
    const VULData original = bytesOf("a zlib-wrapped stream, not gzip");
    uLongf size = compressBound(original.size());
    VULData zlibStream(size);
    ASSERT_EQ(compress2(zlibStream.data(), &size, original.data(), original.size(), 6), Z_OK);
    zlibStream.resize(size);
    const VULDataResult inflated = vul_dataByInflatingGzippedData(zlibStream);
    ASSERT_TRUE(inflated.data.has_value());
    EXPECT_EQ(*inflated.data, original);
}

TEST(Gzip, InflatingNothingGivesNeitherDataNorError) {
    const VULDataResult inflated = vul_dataByInflatingGzippedData({});
    EXPECT_FALSE(inflated.data.has_value());
    EXPECT_FALSE(inflated.error.has_value());
}

TEST(Gzip, BytesThatAreNotAStreamFailWithCode1025) {
    expectZlibError(vul_dataByInflatingGzippedData(bytesOf("plainly not compressed")), 1025);
}

TEST(Gzip, ATruncatedStreamFailsInsteadOfAnsweringPartOfTheData) {
    VULData compressed = *vul_dataByGzippingData(randomBytes(50000, 3)).data;
    compressed.resize(compressed.size() / 2);
    expectZlibError(vul_dataByInflatingGzippedData(compressed), 1025);
    compressed.resize(5);  // not even a whole header
    expectZlibError(vul_dataByInflatingGzippedData(compressed), 1025);
}

TEST(Gzip, ACorruptedTrailerFailsWithCode1025) {
    VULData compressed = *vul_dataByGzippingData(bytesOf("checksummed")).data;
    compressed[compressed.size() - 6] ^= 0xFF;  // inside the CRC-32
    expectZlibError(vul_dataByInflatingGzippedData(compressed), 1025);
}

TEST(Gzip, BytesAfterTheEndOfTheStreamFailWithCode1026) {
    VULData compressed = *vul_dataByGzippingData(bytesOf("complete stream")).data;
    compressed.push_back('!');
    compressed.push_back('?');
    const VULDataResult inflated = vul_dataByInflatingGzippedData(compressed);
    expectZlibError(inflated, 1026);
    EXPECT_NE(inflated.error->message.find("2 bytes"), std::string::npos) << inflated.error->message;
}

}  // namespace
