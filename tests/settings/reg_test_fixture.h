#pragma once
// TReg over the platform's own store, which the tests also look at from outside the program:
// on POSIX a .reg file of each test's own, read back by the file parser; on Windows the
// registry of the tests' Wine prefix, read back by Wine's `reg query`. The members below are
// written once per platform, in reg_test_store_posix.cpp and reg_test_store_win32.cpp.
#include "settings/reg.h"
#include "settings/reg_text.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>

namespace orv {

// A failed comparison shows the value as a .reg file would.
inline void PrintTo(const RegValue& value, std::ostream* os) {
    RegDocument doc;
    doc.AddKey("K").Set("V", value);
    std::string text = WriteRegText(doc);
    *os << text.substr(text.find("\"V\"="));
}

} // namespace orv

namespace orv::test {

inline const std::string kProgramKey = "Software\\Velko\\DUReroro\\v1.0";

class TRegTest : public ::testing::Test {
protected:
    // An empty store for this test, and reg_ over it with KeyPath kProgramKey.
    void SetUp() override;
    // Empties the store a TReg built without a store of its own uses (a first run).
    void EmptyUserStore();
    // Every key and value the store holds, as a reader outside the program sees them.
    RegDocument Stored();
    // A value as another program, or damage, may leave it: any type, any bytes.
    void Plant(const std::string& key, const std::string& name, uint32_t type,
               const std::string& bytes);

    std::unique_ptr<TReg> reg_;
    // POSIX: the test's configuration folder and the settings file in it.
    std::filesystem::path configDir_;
    std::filesystem::path file_;
};

} // namespace orv::test
