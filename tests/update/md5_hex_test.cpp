#include <cstring>

#include <gtest/gtest.h>

#include "md5_hex.h"

namespace {

struct Vector {
    const char* input;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
constexpr Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5Hex, ReproducesTheStandardTestSuite)
{
    for (const Vector& v : kRfc1321) {
        char out[kMd5HexSize];
        ASSERT_EQ(Md5Hex(v.input, static_cast<int>(std::strlen(v.input)), out), 0) << v.input;
        EXPECT_STREQ(out, v.digest) << v.input;
    }
}

TEST(Md5Hex, DigestsExactlyLengthBytes)
{
    char out[kMd5HexSize];
    ASSERT_EQ(Md5Hex("abc", 2, out), 0);
    EXPECT_STREQ(out, "187ef4436122d1cc2f40dc2b92f0eba0"); // MD5 of "ab"
    const char withNul[] = {'a', '\0', 'b'};
    ASSERT_EQ(Md5Hex(withNul, 3, out), 0);
    EXPECT_STRNE(out, "0cc175b9c0f1b6a831c399e269772661") << "must not stop at the NUL";
    EXPECT_EQ(std::strlen(out), kMd5HexSize - 1);
}

TEST(Md5Hex, NegativeLengthIsRefused)
{
    char out[kMd5HexSize];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(Md5Hex("abc", -1, out), -1);
    EXPECT_STREQ(out, "");
}

} // namespace
