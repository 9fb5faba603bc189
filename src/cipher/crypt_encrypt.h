#pragma once
// The inverse of TCryptLib::DecryptStream (without compression), for the image tool and the
// tests: nothing in the program itself enciphers.

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

// Enciphers the buffer in place so that a TCryptLib with the same Password, AddKey and
// MultKey and Compression off deciphers it back. The keys follow the component's rules: a
// password over 12 characters or a zero key raises ECryptError and leaves the buffer alone.
void EncryptBuffer(std::vector<uint8_t>& data, const std::string& password, int32_t addKey = 2539,
                   int32_t multKey = 3617);

} // namespace orv
