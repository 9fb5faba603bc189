#pragma once
// Plain OS images for the tests of the windows and their forms.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

namespace orv::test {

// A plain image of size bytes: version 1.61, 03/2010, flash type 2, first page 128; with
// rightId false the identification bytes are wrong. Returns the path in UTF-8.
inline std::string WritePlainImageFile(const std::filesystem::path& path, size_t size = 0x22000,
                                       bool rightId = true) {
    std::string bytes(size, '\x5A');
    if (size >= 26) {
        bytes[8] = rightId ? '\x40' : '\x41';
        bytes[9] = '\xA6';
        bytes[12] = '\x61';
        bytes[13] = '\x01';
        bytes[14] = '\x03';
        bytes[15] = '\x10';
        bytes[23] = '\x80';
        bytes[25] = '\x02';
    }
    std::ofstream(path, std::ios::binary) << bytes;
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace orv::test
