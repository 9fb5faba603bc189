#include "cipher/crypt_encrypt.h"
#include "cipher/crypt_lib.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using orv::TCryptLib;

// An encipherer written from the format's description alone (1-based positions as it counts
// them), sharing no code with the component.
std::vector<uint8_t> ReferenceEncipher(std::vector<uint8_t> d, const std::string& password,
                                       int32_t addKey, int32_t multKey) {
    uint8_t pw[12] = {};
    for (size_t i = 0; i < password.size(); ++i)
        pw[i] = static_cast<uint8_t>(password[i]);
    auto le = [&](int at) {
        return uint32_t(pw[at]) + (uint32_t(pw[at + 1]) << 8) + (uint32_t(pw[at + 2]) << 16) +
               (uint32_t(pw[at + 3]) << 24);
    };
    const uint32_t k1 = le(0), k2 = le(4), k3 = le(8);
    uint32_t state = k1;
    uint32_t r = k2;
    auto draw = [&](uint32_t range) {
        state = uint32_t(uint64_t(state) * 0x08088405u + 1u);
        return uint32_t((uint64_t(state) * uint64_t(range)) >> 32);
    };
    for (size_t start = 0; start < d.size(); start += 32768) {
        const size_t n = std::min<size_t>(32768, d.size() - start);
        auto at = [&](size_t i) -> uint8_t& { return d[start + i - 1]; };
        std::vector<uint32_t> t(n + 1);
        for (size_t i = 1; i <= n; ++i)
            t[i] = draw(uint32_t(n - 1)) + 1;
        for (size_t i = 1; i <= n; ++i) {
            const uint8_t x =
                uint8_t((r & 0xFF) ^ ((r >> 8) & 0xFF) ^ ((r >> 16) & 0xFF) ^ ((r >> 24) & 0xFF));
            const uint8_t m = uint8_t(draw(255));
            const uint8_t c = at(i) ^ x ^ m;
            at(i) = c;
            r = uint32_t((uint64_t(c) + r + k3) * uint32_t(multKey) + uint32_t(addKey));
        }
        // Deciphering exchanges i = n down to 1, so enciphering exchanges i = 1 up to n.
        for (size_t i = 1; i <= n; ++i)
            std::swap(at(i), at(t[i]));
    }
    return d;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

TCryptLib Decipherer(const std::string& password, int32_t addKey = 2539, int32_t multKey = 3617) {
    TCryptLib crypt;
    crypt.SetCompression(false);
    crypt.SetPassword(password);
    crypt.SetAddKey(addKey);
    crypt.SetMultKey(multKey);
    return crypt;
}

TEST(CryptGenerator, FixedStates) {
    orv::CryptGenerator gen;
    EXPECT_EQ(gen.Draw(0), 0u); // range 0 still advances
    EXPECT_EQ(gen.State, 1u);
    gen.Draw(1000);
    EXPECT_EQ(gen.State, 134775814u);
}

TEST(CryptLib, DefaultsAndRefusals) {
    TCryptLib crypt;
    EXPECT_EQ(crypt.Password(), "582947");
    EXPECT_TRUE(crypt.Compression());
    EXPECT_EQ(crypt.AddKey(), 2539);
    EXPECT_EQ(crypt.MultKey(), 3617);

    crypt.SetPassword("123456789012");
    EXPECT_EQ(crypt.Password(), "123456789012");
    try {
        crypt.SetPassword("1234567890123");
        FAIL() << "13 characters accepted";
    } catch (const orv::ECryptError& e) {
        EXPECT_STREQ(e.what(), "TCryptLib.Password is too long");
    }
    EXPECT_EQ(crypt.Password(), "");

    try {
        crypt.SetAddKey(0);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "TCryptLib.AddKey is too big");
    }
    EXPECT_EQ(crypt.AddKey(), 1);
    try {
        crypt.SetMultKey(0);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "TCryptLib.MultKey is too big");
    }
    EXPECT_EQ(crypt.MultKey(), 1);
    crypt.SetAddKey(-1);
    crypt.SetMultKey(-1);
    EXPECT_EQ(crypt.AddKey(), -1);
    EXPECT_EQ(crypt.MultKey(), -1);
}

TEST(CryptLib, SmallStreamsByHand) {
    // Empty password: K1 = K2 = K3 = 0. One byte: one draw with range 0 (state 1), no
    // exchange, R = 0 so x = 0, then m = draw(255) from state 134775814, which is 8.
    TCryptLib crypt = Decipherer("");
    std::vector<uint8_t> one = {0x00};
    crypt.DecryptStream(one);
    EXPECT_EQ(one, std::vector<uint8_t>{0x08});

    std::vector<uint8_t> empty;
    crypt.DecryptStream(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(CryptLib, RefusedPasswordDeciphersWithZeroKeys) {
    const auto ciphered = ReferenceEncipher(RandomBytes(100, 3), "", 2539, 3617);
    TCryptLib crypt = Decipherer("582947");
    EXPECT_THROW(crypt.SetPassword("thirteen char"), orv::ECryptError);
    auto bytes = ciphered;
    crypt.DecryptStream(bytes);
    EXPECT_EQ(bytes, RandomBytes(100, 3));
}

TEST(CryptLib, DeciphersTheReferenceEncipherer) {
    struct Case {
        size_t size;
        std::string password;
        int32_t add, mult;
    };
    const Case cases[] = {
        {1, "582947", 2539, 3617},
        {2, "730416", 2539, 3617},
        {3, "", 2539, 3617},
        {255, "abcdefghijkl", 2539, 3617},
        {32767, "a", -1, -1},
        {32768, "730416", 2539, 3617},
        {32769, "730416", 2539, 3617},
        {32768 * 2 + 5, "\xff\x80pw", 0x7FFFFFFF, -0x7FFFFFFF},
        {100000, "zz", -2147483647 - 1, 12345},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << " password " << c.password);
        const auto plain = RandomBytes(c.size, static_cast<unsigned>(c.size));
        const auto ciphered = ReferenceEncipher(plain, c.password, c.add, c.mult);
        if (c.size > 2) {
            EXPECT_NE(ciphered, plain);
        }

        auto ours = plain;
        orv::EncryptBuffer(ours, c.password, c.add, c.mult);
        EXPECT_EQ(ours, ciphered) << "EncryptBuffer differs from the reference";

        TCryptLib crypt = Decipherer(c.password, c.add, c.mult);
        auto bytes = ciphered;
        crypt.DecryptStream(bytes);
        EXPECT_EQ(bytes, plain);
        // Nothing carries over from one call to the next.
        bytes = ciphered;
        crypt.DecryptStream(bytes);
        EXPECT_EQ(bytes, plain);
    }
}

TEST(CryptLib, CompressionDecompressesAfterDeciphering) {
    const std::vector<uint8_t> packed = {0x01, 0x61, 0xEE, 0xF2};
    auto bytes = ReferenceEncipher(packed, "582947", 2539, 3617);
    TCryptLib crypt; // defaults: Compression on
    crypt.DecryptStream(bytes);
    EXPECT_EQ(bytes, std::vector<uint8_t>(6, 0x61));
}

TEST(CryptLib, EncryptBufferFollowsTheComponentsRules) {
    std::vector<uint8_t> bytes = {1, 2, 3};
    EXPECT_THROW(orv::EncryptBuffer(bytes, "1234567890123"), orv::ECryptError);
    EXPECT_THROW(orv::EncryptBuffer(bytes, "1", 0, 1), orv::ECryptError);
    EXPECT_THROW(orv::EncryptBuffer(bytes, "1", 1, 0), orv::ECryptError);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
}

} // namespace
