#include "cipher/crypt_encrypt.h"

#include "cipher/crypt_block.h"

namespace orv {

void EncryptBuffer(std::vector<uint8_t>& data, const std::string& password, int32_t addKey,
                   int32_t multKey) {
    // The component's setters hold the rules for keys; reuse them.
    TCryptLib keys;
    keys.SetPassword(password);
    keys.SetAddKey(addKey);
    keys.SetMultKey(multKey);

    CryptState state(MakeCryptKeys(password), addKey, multKey);
    std::vector<uint16_t> table(kCryptBlockSize);
    for (size_t at = 0; at < data.size(); at += kCryptBlockSize) {
        const size_t n = std::min(kCryptBlockSize, data.size() - at);
        uint8_t* d = data.data() + at;
        state.DrawTable(table.data(), n);
        for (size_t i = 0; i < n; ++i) {
            d[i] = static_cast<uint8_t>(d[i] ^ state.Mask());
            state.Feed(d[i]);
        }
        // Undo the deciphering exchanges: the same swaps in the opposite order.
        for (size_t i = 0; i < n; ++i)
            std::swap(d[i], d[table[i]]);
    }
}

} // namespace orv
