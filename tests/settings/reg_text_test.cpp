#include "settings/reg_text.h"

#include <gtest/gtest.h>

using namespace orv;

namespace {

const RegValue* Value(const RegDocument& doc, std::string_view key, std::string_view name) {
    const RegKeyData* k = doc.FindKey(key);
    return k ? k->Find(name) : nullptr;
}

} // namespace

TEST(RegText, WriteThenParseKeepsEveryValueAndType) {
    RegDocument doc;
    RegKeyData& k = doc.AddKey("Software\\Velko\\DUReroro\\v1.0");
    k.Set("OSFile", RegValue::Text("C:\\os\\\"new\".os"));
    k.Set("Count", RegValue::DWord(0xFFFFFFFB));
    k.Set("", RegValue::Text("default"));
    k.Set("@", RegValue::Text("at"));
    k.Set("Path", RegValue::Hex(rtExpandString, std::string("%\0H\0\0\0", 6)));
    k.Set("Blob", RegValue::Hex(rtBinary, ""));
    const std::vector<RegNamedValue> written = k.Values();
    doc.AddKey("");
    doc.AddKey("Software\\Odd ]\\Name ");

    std::string text = WriteRegText(doc);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_NE(text.find("\"OSFile\"=\"C:\\\\os\\\\\\\"new\\\".os\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Count\"=dword:fffffffb\n"), std::string::npos);
    EXPECT_NE(text.find("\"Path\"=hex(2):25,00,48,00,00,00\n"), std::string::npos);

    RegParseResult back = ParseRegText(text);
    EXPECT_EQ(back.errorCount, 0u) << (back.errors.empty() ? "" : back.errors[0]);
    ASSERT_EQ(back.doc.Keys().size(), 3u);
    const RegKeyData* k2 = back.doc.FindKey("software\\VELKO\\dureroro\\V1.0");
    ASSERT_NE(k2, nullptr);
    ASSERT_EQ(k2->Values().size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(k2->Values()[i].name, written[i].name);
        EXPECT_EQ(k2->Values()[i].value, written[i].value);
    }
    EXPECT_NE(back.doc.FindKey("Software\\Odd ]\\Name "), nullptr);
    EXPECT_EQ(WriteRegText(back.doc), text);
}

TEST(RegText, ReadsWhatOtherEditorsWrite) {
    std::string text = "\xEF\xBB\xBFREGEDIT4\r\n"
                       "; a comment\r\n"
                       "[HKEY_CURRENT_USER\\A]\r\n"
                       "\"x\"=\"1\"\r\n"
                       "  \"E\"=hex(2):25,00,48,00,4f,00,\\\r\n"
                       "    4d,00,45,00,25,00,00,00\r\n"
                       "[hkey_current_user\\a]\r\n"
                       "\"X\" = \"2\"\r\n"
                       "\"n\"=dword:5\r\n";
    RegParseResult r = ParseRegText(text);
    EXPECT_EQ(r.errorCount, 0u) << (r.errors.empty() ? "" : r.errors[0]);
    ASSERT_EQ(r.doc.Keys().size(), 1u); // the two spellings are one key
    EXPECT_EQ(Value(r.doc, "A", "x")->data, "2");
    EXPECT_EQ(Value(r.doc, "A", "n")->dword, 5u);
    std::string s;
    ASSERT_TRUE(DecodeRegString(*Value(r.doc, "A", "e"), s));
    EXPECT_EQ(s, "%HOME%");
}

TEST(RegText, DamagedLinesAreReportedAndTheRestKept) {
    std::string text = "\"early\"=\"no key yet\"\n"        // 1: no header, no key
                       "[HKEY_CURRENT_USER\\K]\n"          // 2
                       "\"good\"=\"yes\"\n"                // 3
                       "garbage\x01\n"                     // 4
                       "\"bad\"=\"unterminated\n"          // 5
                       "\"esc\"=\"a\\nb\"\n"               // 6
                       "\"d\"=dword:123456789\n"           // 7
                       "\"h\"=hex:1,02,zz\n"               // 8
                       "\"gone\"=-\n"                      // 9
                       "[HKEY_LOCAL_MACHINE\\Other]\n"     // 10
                       "\"other\"=\"not ours\"\n"          // 11
                       "[HKEY_CURRENT_USER\\K\\\\Empty]\n" // 12
                       "[HKEY_CURRENT_USER\\K]\n"
                       "\"last\"=dword:00000001\n"
                       "\"cont\"=hex:01,\\\n";
    RegParseResult r = ParseRegText(text);
    EXPECT_EQ(r.errorCount, 12u);
    ASSERT_GE(r.errors.size(), 3u);
    EXPECT_EQ(r.errors[0].rfind("line 1: ", 0), 0u) << r.errors[0];
    EXPECT_EQ(r.errors[2].rfind("line 4: ", 0), 0u) << r.errors[2];
    ASSERT_NE(Value(r.doc, "K", "good"), nullptr);
    EXPECT_EQ(Value(r.doc, "K", "good")->data, "yes");
    EXPECT_EQ(Value(r.doc, "K", "last")->dword, 1u);
    EXPECT_EQ(r.doc.FindKey("K")->Values().size(), 2u);
    EXPECT_EQ(r.doc.Keys().size(), 1u);
    // What was kept writes and reads back clean.
    EXPECT_EQ(ParseRegText(WriteRegText(r.doc)).errorCount, 0u);
}

TEST(RegText, KeyPathsAndParents) {
    EXPECT_TRUE(ValidKeyPath(""));
    EXPECT_TRUE(ValidKeyPath("Software\\Velko\\Reg\\v1.0Sub"));
    EXPECT_FALSE(ValidKeyPath("\\Software"));
    EXPECT_FALSE(ValidKeyPath("Software\\\\Velko"));
    EXPECT_FALSE(ValidKeyPath("Software\\"));
    EXPECT_FALSE(ValidKeyPath("Soft\nware"));

    RegDocument doc;
    doc.AddKey("Software\\Velko\\Reg");
    EXPECT_TRUE(doc.KeyExists("software\\velko"));
    EXPECT_TRUE(doc.KeyExists(""));
    EXPECT_FALSE(doc.KeyExists("Software\\Vel"));
    EXPECT_FALSE(doc.KeyExists("Software\\Velko\\Reg\\v1.0"));
}

TEST(RegText, StringsWithControlCharactersTravelAsUtf16) {
    RegValue v;
    ASSERT_TRUE(EncodeRegString("plain \xC3\xA9", v));
    EXPECT_EQ(v.form, RegValue::Form::Text);

    const std::string multi = "line 1\nline 2\t\xE2\x82\xAC \xF0\x9F\x98\x80";
    ASSERT_TRUE(EncodeRegString(multi, v));
    EXPECT_EQ(v.form, RegValue::Form::Hex);
    EXPECT_EQ(v.type, rtString);
    RegDocument d;
    d.AddKey("K").Set("m", v);
    RegParseResult r = ParseRegText(WriteRegText(d));
    std::string s;
    ASSERT_TRUE(DecodeRegString(*Value(r.doc, "K", "m"), s));
    EXPECT_EQ(s, multi);

    EXPECT_FALSE(EncodeRegString(std::string("a\0b", 3), v));
    EXPECT_FALSE(EncodeRegString("bad \xFF\n", v));
    EXPECT_FALSE(DecodeRegString(RegValue::Hex(rtString, std::string("\x00\xDC", 2)), s));
    EXPECT_FALSE(DecodeRegString(RegValue::Hex(rtString, std::string("\x00\xD8", 2)), s));
    EXPECT_FALSE(DecodeRegString(RegValue::DWord(1), s));
}
