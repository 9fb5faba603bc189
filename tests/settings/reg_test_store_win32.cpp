// Under Wine the store is the registry of the tests' own prefix. What the program wrote is
// read back by Wine's `reg query`, a reader that shares no code with the program.
#include "child_process.h"
#include "common/wide_text.h"
#include "reg_test_fixture.h"

#include <cstdlib>
#include <sstream>
#include <windows.h>

namespace orv::test {

namespace {

const char* kTestRoot = "Software\\Velko";

std::wstring Wide(const std::string& s) {
    std::wstring w;
    ToWide(s, w);
    return w;
}

// reg writes to a pipe in the OEM code page.
std::string Utf8FromOem(const std::string& s) {
    int size = static_cast<int>(s.size());
    int n = MultiByteToWideChar(CP_OEMCP, 0, s.data(), size, nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_OEMCP, 0, s.data(), size, w.data(), n);
    return ToUtf8(w);
}

uint32_t TypeCode(const std::string& name) {
    static const std::pair<const char*, uint32_t> kTypes[] = {
        {"REG_NONE", REG_NONE},     {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
        {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},
        {"REG_QWORD", REG_QWORD}};
    for (const auto& [text, code] : kTypes)
        if (name == text)
            return code;
    ADD_FAILURE() << "reg query showed a type " << name;
    return REG_NONE;
}

// One line of `reg query`: four spaces, the name, four spaces, the type, four spaces, the data.
void AddValue(RegKeyData& key, const std::string& line) {
    const std::string gap = "    ";
    size_t type = line.find(gap + "REG_", gap.size());
    ASSERT_NE(type, std::string::npos) << line;
    std::string name = line.substr(gap.size(), type - gap.size());
    type += gap.size();
    size_t data = line.find(gap, type);
    std::string typeName = line.substr(type, data == std::string::npos ? data : data - type);
    std::string text = data == std::string::npos ? "" : line.substr(data + gap.size());
    if (name == "(Default)")
        name.clear();
    uint32_t code = TypeCode(typeName);
    if (code == REG_SZ)
        key.Set(name, RegValue::Text(text));
    else if (code == REG_DWORD)
        key.Set(name, RegValue::DWord(static_cast<uint32_t>(std::stoul(text, nullptr, 16))));
    else // the other types keep reg's own spelling of their data
        key.Set(name, RegValue::Hex(code, text));
}

} // namespace

void TRegTest::SetUp() {
    // The tests clear the program's keys, so they keep to the prefix CTest gives them.
    if (!std::getenv("WINEPREFIX"))
        GTEST_SKIP() << "runs in CTest's Wine prefix only: it clears HKCU\\" << kTestRoot;
    LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kTestRoot).c_str());
    ASSERT_TRUE(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) << rc;
    reg_ = std::make_unique<TReg>(kProgramKey, MakeUserRegStore());
}

// SetUp has emptied it already: reg_ is on the user's store too.
void TRegTest::EmptyUserStore() {}

RegDocument TRegTest::Stored() {
    ProgramRun run = RunProgram("reg", {"query", std::string("HKCU\\") + kTestRoot, "/s"});
    EXPECT_NE(run.Exit, -1) << "reg did not run";
    std::istringstream lines(Utf8FromOem(run.Output));
    struct Listed {
        std::string path;
        std::vector<std::string> values;
    };
    std::vector<Listed> keys;
    const std::string hive = "HKEY_CURRENT_USER\\";
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(hive, 0) == 0)
            keys.push_back({line.substr(hive.size()), {}});
        else if (line.rfind("    ", 0) == 0 && !keys.empty())
            keys.back().values.push_back(line);
    }
    // A .reg file shows a parent that holds nothing only through its children; so does this.
    RegDocument doc;
    for (size_t i = 0; i < keys.size(); ++i) {
        bool parent = i + 1 < keys.size() && keys[i + 1].path.rfind(keys[i].path + "\\", 0) == 0;
        if (parent && keys[i].values.empty())
            continue;
        RegKeyData& key = doc.AddKey(keys[i].path);
        for (const std::string& line : keys[i].values)
            AddValue(key, line);
    }
    return doc;
}

void TRegTest::Plant(const std::string& key, const std::string& name, uint32_t type,
                     const std::string& bytes) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    LONG rc =
        RegSetValueExW(k, Wide(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(k);
    ASSERT_EQ(rc, ERROR_SUCCESS);
}

} // namespace orv::test
