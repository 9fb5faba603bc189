// Image checking on arbitrary bytes, plain and ciphered: no crash, no read outside the input,
// and a Ready image always satisfies what the sender relies on.
#include "common/crc16.h"
#include "update/os_image.h"

#include <algorithm>
#include <cstdlib>

namespace {

void Check(const orv::PrepareResult& r) {
    if (r.Outcome != orv::PrepareOutcome::Ready)
        return;
    const auto& image = r.Image;
    if (image.FirstPage < 1 || image.FirstPage >= image.PageCount ||
        image.Bytes.size() < orv::kMinImageSize || image.Bytes.size() >= orv::kMaxImageSize ||
        image.PageCount != static_cast<int>(image.Bytes.size() / orv::kPageSize))
        std::abort();
    const auto order = orv::PageOrder(image.PageCount, image.FirstPage);
    if (order.size() !=
        static_cast<size_t>(image.PageCount) - static_cast<size_t>(image.FirstPage) + 1)
        std::abort();
    // The header page, the first and last image pages: enough to cover every frame branch.
    for (int page : {0, image.FirstPage, image.PageCount - 1}) {
        const auto frame = orv::BuildPageFrame(image, 1, page);
        if (orv::CRC16(frame) != 0)
            std::abort();
        const int percent = orv::PageGaugePercent(page, image.PageCount, image.FirstPage);
        if (percent < 0 || percent >= 100)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    for (bool ciphered : {false, true}) {
        orv::CheckImageInfo(bytes, ciphered);
        Check(orv::PrepareImageBytes(bytes, ciphered));
    }
    // Short inputs say little about the checks past the size test, so also try each input
    // stretched to the smallest accepted size (plain only: random bytes never pass the check
    // of a ciphered file).
    if (size > 0 && size < orv::kMinImageSize) {
        std::vector<uint8_t> stretched(orv::kMinImageSize);
        for (size_t at = 0; at < stretched.size(); at += size)
            std::copy_n(data, std::min(size, stretched.size() - at),
                        stretched.begin() + static_cast<std::ptrdiff_t>(at));
        Check(orv::PrepareImageBytes(std::move(stretched), false));
    }
    return 0;
}
