// The settings file parser on arbitrary bytes: it must never crash, and whatever it keeps must
// write out as a file it reads back whole and unchanged.
#include "settings/reg_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    orv::RegParseResult first = orv::ParseRegText(input);
    if (first.errors.size() > first.errorCount)
        std::abort();

    std::string written = orv::WriteRegText(first.doc);
    orv::RegParseResult second = orv::ParseRegText(written);
    if (second.errorCount != 0 || orv::WriteRegText(second.doc) != written)
        std::abort();

    std::string text;
    for (const orv::RegKeyData& key : second.doc.Keys())
        for (const orv::RegNamedValue& v : key.Values())
            orv::DecodeRegString(v.value, text);

    // Any string a caller saves reads back as it was.
    orv::RegValue encoded;
    if (orv::EncodeRegString(input, encoded) &&
        (!orv::DecodeRegString(encoded, text) || text != input))
        std::abort();
    return 0;
}
