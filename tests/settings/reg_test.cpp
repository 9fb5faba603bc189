// TReg on the platform's own store: the .reg file on POSIX, the registry under Wine.
#include "error_of.h"
#include "reg_test_fixture.h"

using namespace orv;
using namespace orv::test;

namespace {

// The bytes of a string as the registry keeps it: UTF-16, little end first, with terminator.
std::string Utf16(std::string_view ascii) {
    std::string bytes;
    for (char c : ascii)
        bytes += {c, '\0'};
    return bytes + std::string(2, '\0');
}

} // namespace

TEST_F(TRegTest, FirstRunLeavesDefaultAndCreatesKey) {
    EmptyUserStore();
    TReg reg;
    EXPECT_EQ(reg.KeyPath, "Software\\Velko\\Reg\\v1.0");
    reg.KeyPath = kProgramKey;
    std::string osFile = "default.os";
    EXPECT_FALSE(reg.LoadStringA("", "OSFile", osFile));
    EXPECT_EQ(osFile, "default.os");
    int32_t n = 42;
    bool b = true;
    EXPECT_FALSE(reg.LoadInteger("", "N", n));
    EXPECT_FALSE(reg.LoadBoolean("", "B", b));
    EXPECT_EQ(n, 42);
    EXPECT_TRUE(b);
    RegDocument doc = Stored();
    ASSERT_NE(doc.FindKey(kProgramKey), nullptr);
    EXPECT_TRUE(doc.FindKey(kProgramKey)->Values().empty());

    EXPECT_EQ(&Reg(), &Reg());
}

TEST_F(TRegTest, SectionIsAppendedWithoutSeparator) {
    ASSERT_TRUE(reg_->SaveString("", "V", "top"));
    ASSERT_TRUE(reg_->SaveString("\\Sub", "V", "sub"));
    ASSERT_TRUE(reg_->SaveString("Glued", "V", "glued"));
    std::string v;
    ASSERT_TRUE(reg_->LoadStringA("", "V", v));
    EXPECT_EQ(v, "top");
    ASSERT_TRUE(reg_->LoadStringA("\\Sub", "V", v));
    EXPECT_EQ(v, "sub");
    RegDocument doc = Stored();
    EXPECT_EQ(doc.FindKey(kProgramKey + "\\Sub")->Find("V")->data, "sub");
    EXPECT_EQ(doc.FindKey(kProgramKey + "Glued")->Find("V")->data, "glued");
    EXPECT_EQ(doc.Keys().size(), 3u);
    // A section that would make an empty key name opens nothing.
    EXPECT_FALSE(reg_->SaveString("\\", "V", "x"));
    EXPECT_FALSE(reg_->LoadStringA("\\\\Sub", "V", v));
}

TEST_F(TRegTest, IntegersBooleansAndTypes) {
    ASSERT_TRUE(reg_->SaveInteger("", "Neg", -5));
    ASSERT_TRUE(reg_->SaveInteger("", "Two", 2));
    ASSERT_TRUE(reg_->SaveBoolean("", "Off", false));
    ASSERT_TRUE(reg_->SaveString("", "Empty", ""));
    int32_t n = 0;
    ASSERT_TRUE(reg_->LoadInteger("", "Neg", n));
    EXPECT_EQ(n, -5);
    bool b = false;
    ASSERT_TRUE(reg_->LoadBoolean("", "Two", b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(reg_->LoadBoolean("", "Off", b));
    EXPECT_FALSE(b);
    std::string s = "unchanged";
    ASSERT_TRUE(reg_->LoadStringA("", "Empty", s));
    EXPECT_EQ(s, "");

    s = "unchanged";
    try {
        reg_->LoadStringA("", "Two", s);
        ADD_FAILURE() << "no error";
    } catch (const ERegError& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'Two'");
    }
    EXPECT_EQ(s, "unchanged");
    EXPECT_THROW(reg_->LoadInteger("", "Empty", n), ERegError);
    EXPECT_THROW(reg_->SaveString("", "Nul", std::string("a\0b", 3)), ERegError);
    EXPECT_EQ(n, -5);

    // What another program sees: strings as strings, numbers as double words, letters beyond
    // ASCII as they were.
    ASSERT_TRUE(reg_->SaveString("", "OSFile", "C:\\Users\\Jürgen\\a.os"));
    RegDocument doc = Stored();
    const RegKeyData* key = doc.FindKey(kProgramKey);
    ASSERT_NE(key, nullptr);
    auto stored = [&](const char* name) {
        const RegValue* v = key->Find(name);
        return v ? *v : RegValue::Hex(rtBinary, "missing");
    };
    EXPECT_EQ(stored("Neg"), RegValue::DWord(0xFFFFFFFB));
    EXPECT_EQ(stored("Off"), RegValue::DWord(0));
    EXPECT_EQ(stored("Empty"), RegValue::Text(""));
    EXPECT_EQ(stored("OSFile"), RegValue::Text("C:\\Users\\Jürgen\\a.os"));
    ASSERT_TRUE(reg_->LoadStringA("", "OSFile", s));
    EXPECT_EQ(s, "C:\\Users\\Jürgen\\a.os");
}

// What another program, or damage, may leave under the key: read as the registry types them,
// refused in the store's words, and the caller's variable untouched.
TEST_F(TRegTest, ValuesOfOtherTypesOrDamaged) {
    Plant(kProgramKey, "Exp", rtExpandString, Utf16("%TEMP%\\a.os"));
    Plant(kProgramKey, "Unended", rtString, std::string("O\0K\0!", 5));
    Plant(kProgramKey, "Lone", rtString, std::string("\x00\xD8\0\0", 4));
    Plant(kProgramKey, "Bin", rtBinary, "\x01\x02");
    Plant(kProgramKey, "Short", rtDWord, "\x01\x02\x03");

    std::string s;
    ASSERT_TRUE(reg_->LoadStringA("", "Exp", s));
    EXPECT_EQ(s, "%TEMP%\\a.os"); // not expanded
    ASSERT_TRUE(reg_->LoadStringA("", "Unended", s));
    EXPECT_EQ(s, "OK"); // no terminator, and half a character at the end

    s = "kept";
    int32_t n = 7;
    bool b = false;
    EXPECT_EQ(ErrorOf([&] { reg_->LoadStringA("", "Lone", s); }), "Failed to get data for 'Lone'");
    EXPECT_EQ(ErrorOf([&] { reg_->LoadStringA("", "Bin", s); }), "Invalid data type for 'Bin'");
    EXPECT_EQ(ErrorOf([&] { reg_->LoadInteger("", "Short", n); }),
              "Failed to get data for 'Short'");
    EXPECT_EQ(ErrorOf([&] { reg_->LoadBoolean("", "Exp", b); }), "Invalid data type for 'Exp'");
    EXPECT_EQ(s, "kept");
    EXPECT_EQ(n, 7);
    EXPECT_FALSE(b);
}

TEST_F(TRegTest, ThreeStringsOverFive) {
    ASSERT_TRUE(reg_->SaveStrings("\\Recent", {"a", "b", "c", "d", "e"}));
    ASSERT_TRUE(reg_->SaveStrings("\\Recent", {"x", "y", "z"}));
    std::vector<std::string> list = {"kept"};
    ASSERT_TRUE(reg_->LoadStrings("\\Recent", list));
    EXPECT_EQ(list, (std::vector<std::string>{"kept", "x", "y", "z"}));
    // The older items stay behind, unread.
    EXPECT_EQ(Stored().FindKey(kProgramKey + "\\Recent")->Find("Item4")->data, "e");
    list.clear();
    ASSERT_TRUE(reg_->LoadStrings("\\None", list));
    EXPECT_TRUE(list.empty());
}
