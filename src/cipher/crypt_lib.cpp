#include "cipher/crypt_lib.h"

#include "cipher/crypt_block.h"
#include "cipher/lzss.h"

#include <new>

namespace orv {

CryptKeys MakeCryptKeys(const std::string& password) {
    uint8_t bytes[kCryptPasswordMax] = {};
    for (size_t i = 0; i < password.size() && i < kCryptPasswordMax; ++i)
        bytes[i] = static_cast<uint8_t>(password[i]);
    auto word = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
               static_cast<uint32_t>(bytes[at + 2]) << 16 |
               static_cast<uint32_t>(bytes[at + 3]) << 24;
    };
    return CryptKeys{word(0), word(4), word(8)};
}

void TCryptLib::SetPassword(const std::string& value) {
    if (value.size() > kCryptPasswordMax) {
        FPassword.clear();
        throw ECryptError("TCryptLib.Password is too long");
    }
    FPassword = value;
}

void TCryptLib::SetAddKey(int32_t value) {
    if (value == 0) {
        FAddKey = 1;
        throw ECryptError("TCryptLib.AddKey is too big");
    }
    FAddKey = value;
}

void TCryptLib::SetMultKey(int32_t value) {
    if (value == 0) {
        FMultKey = 1;
        throw ECryptError("TCryptLib.MultKey is too big");
    }
    FMultKey = value;
}

void TCryptLib::DecryptStream(std::vector<uint8_t>& stream) const {
    CryptState state(MakeCryptKeys(FPassword), FAddKey, FMultKey);
    std::vector<uint16_t> table(kCryptBlockSize);
    for (size_t at = 0; at < stream.size(); at += kCryptBlockSize) {
        const size_t n = std::min(kCryptBlockSize, stream.size() - at);
        uint8_t* d = stream.data() + at;
        state.DrawTable(table.data(), n);
        for (size_t i = n; i-- > 0;)
            std::swap(d[i], d[table[i]]);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t c = d[i];
            d[i] = static_cast<uint8_t>(c ^ state.Mask());
            state.Feed(c);
        }
    }
    if (!FCompression)
        return;
    // The deciphered bytes stay in the stream when the decompressor cannot start.
    std::vector<uint8_t> plain;
    try {
        plain = LzssDecode(stream);
    } catch (const std::bad_alloc&) {
        throw ECryptError("TCryptLib: LZH init error");
    }
    stream = std::move(plain);
}

} // namespace orv
