#pragma once
// TCryptLib: the password-keyed stream cipher of ciphered OS images. It only deciphers (and,
// with Compression on, LZSS-decompresses); the inverse for tools and tests is in
// cipher/crypt_encrypt.h.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv {

// Raised when a property is set out of range or the decompressor cannot start.
class ECryptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The cipher's linear congruential generator. Private to one DecryptStream call: any draw
// from elsewhere between its steps would break the sequence.
struct CryptGenerator {
    uint32_t State = 0;

    // Advances the state and returns a number below range (0 for range 0).
    uint32_t Draw(uint32_t range) {
        State = State * 134775813u + 1u;
        return static_cast<uint32_t>((static_cast<uint64_t>(State) * range) >> 32);
    }
};

// Block size of the format: the generator and running key run on from block to block.
constexpr size_t kCryptBlockSize = 32768;
constexpr size_t kCryptPasswordMax = 12;

// The three key words of a password: bytes 1-4, 5-8, 9-12 of the zero-padded password, each
// little-endian.
struct CryptKeys {
    uint32_t K1 = 0;
    uint32_t K2 = 0;
    uint32_t K3 = 0;
};
CryptKeys MakeCryptKeys(const std::string& password);

class TCryptLib {
public:
    TCryptLib() = default;

    const std::string& Password() const { return FPassword; }
    // More than 12 characters: the password becomes empty and ECryptError is raised.
    void SetPassword(const std::string& value);

    bool Compression() const { return FCompression; }
    void SetCompression(bool value) { FCompression = value; }

    int32_t AddKey() const { return FAddKey; }
    // 0: AddKey becomes 1 and ECryptError is raised; any other value is kept.
    void SetAddKey(int32_t value);

    int32_t MultKey() const { return FMultKey; }
    // 0: MultKey becomes 1 and ECryptError is raised; any other value is kept.
    void SetMultKey(int32_t value);

    // Deciphers the whole buffer in place; with Compression on, then replaces it by its
    // decompressed form. Every call starts afresh from the password, so the same ciphered
    // bytes always give the same result. A wrong password is not detected: the caller's own
    // check of the result finds it.
    void DecryptStream(std::vector<uint8_t>& stream) const;

private:
    std::string FPassword = "582947";
    bool FCompression = true;
    int32_t FAddKey = 2539;
    int32_t FMultKey = 3617;
};

} // namespace orv
