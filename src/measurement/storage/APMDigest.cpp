#include "measurement/storage/APMDigest.h"

#include <array>

#include <openssl/evp.h>

namespace {

// Fetched once: handed the legacy EVP_md5() object, every digest would look
// the algorithm up among the providers again, which costs more than hashing
// a short record. Kept for the life of the process.
const EVP_MD* md5Algorithm() {
    static const EVP_MD* const algorithm = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "MD5", nullptr);
        return fetched ? fetched : EVP_md5();
    }();
    return algorithm;
}

std::array<std::uint8_t, 16> md5(const void* bytes, std::size_t size) {
    std::array<std::uint8_t, 16> digest{};
    unsigned int length = 0;
    // MD5 through the EVP interface cannot fail for in-memory input.
    EVP_Digest(bytes, size, digest.data(), &length, md5Algorithm(), nullptr);
    return digest;
}

}  // namespace

std::string APMMD5String(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t byte : md5(text.data(), text.size())) {
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0f];
    }
    return out;
}

std::int64_t APM64LSBMD5(const std::uint8_t* bytes, std::size_t size) {
    auto digest = md5(bytes, size);
    return static_cast<std::int64_t>(APM64LeastSignificantBits(digest.data(), digest.size()));
}

std::uint64_t APM64LeastSignificantBits(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t value = 0;
    std::size_t start = size > 8 ? size - 8 : 0;
    for (std::size_t i = start; i < size; ++i) value = (value << 8) | bytes[i];
    return value;
}
