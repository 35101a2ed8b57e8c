#include "measurement/storage/APMDigest.h"

#include <string>

#include <gtest/gtest.h>

TEST(MD5String, MatchesTheReferenceVectors) {
    EXPECT_EQ(APMMD5String(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(APMMD5String("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(APMMD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(APMMD5String("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(APMMD5String("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(APMMD5String("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string eightTimes;
    for (int i = 0; i < 8; ++i) eightTimes += "1234567890";
    EXPECT_EQ(APMMD5String(eightTimes), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5String, HashesTheUtf8BytesOfTheText) {
    EXPECT_EQ(APMMD5String("\xc3\xa9"), "66ddcd97cfdeabb2f6fb8a999b4bc76f");
}

TEST(Fingerprint, IsTheLastEightDigestBytesReadBigEndianAndSigned) {
    // MD5("") ends in e9 80 09 98 ec f8 42 7e.
    EXPECT_EQ(APM64LSBMD5(""), static_cast<std::int64_t>(0xe9800998ecf8427eULL));
    EXPECT_EQ(APM64LSBMD5(""), -1621285313438006658LL);
    // MD5("abc") ends in d6 96 3f 7d 28 e1 7f 72.
    EXPECT_EQ(APM64LSBMD5("abc"), static_cast<std::int64_t>(0xd6963f7d28e17f72ULL));
    const std::uint8_t bytes[] = {0x08, 0x01, 0x10, 0x00};
    EXPECT_EQ(APM64LSBMD5(bytes, sizeof bytes), APM64LSBMD5(std::string_view("\x08\x01\x10\x00", 4)));
}

TEST(LeastSignificantBits, ReadsUpToTheLastEightBytes) {
    const std::uint8_t ten[] = {0xff, 0xff, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(APM64LeastSignificantBits(ten, sizeof ten), 0x0102030405060708ULL);
    const std::uint8_t two[] = {0x12, 0x34};
    EXPECT_EQ(APM64LeastSignificantBits(two, sizeof two), 0x1234ULL);
    EXPECT_EQ(APM64LeastSignificantBits(nullptr, 0), 0ULL);
}
