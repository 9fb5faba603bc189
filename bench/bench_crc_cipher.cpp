// CRC-16 and deciphering throughput over a 16 MiB image.
#include "cipher/crypt_encrypt.h"
#include "cipher/crypt_lib.h"
#include "common/crc16.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

template <typename F>
double MegabytesPerSecond(size_t bytes, int rounds, F&& work) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return static_cast<double>(bytes) * rounds / (1024.0 * 1024.0) / took.count();
}

} // namespace

int main() {
    constexpr size_t kSize = 16u << 20;
    std::vector<uint8_t> image(kSize);
    uint32_t x = 12345;
    for (auto& b : image) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }

    volatile uint16_t sink = 0;
    const double crc = MegabytesPerSecond(kSize, 4, [&] { sink = orv::CRC16(image, 0xFFFF); });
    std::printf("CRC16 over 16 MiB: %.1f MB/s\n", crc);

    orv::EncryptBuffer(image, "730416");
    orv::TCryptLib crypt;
    crypt.SetCompression(false);
    crypt.SetPassword("730416");
    std::vector<uint8_t> work;
    const double decipher = MegabytesPerSecond(kSize, 2, [&] {
        work = image;
        crypt.DecryptStream(work);
    });
    std::printf("DecryptStream over 16 MiB: %.1f MB/s (includes one 16 MiB copy)\n", decipher);
    return 0;
}
