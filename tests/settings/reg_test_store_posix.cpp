// Each test's store is a .reg file in a folder of its own below the test's configuration
// folder (XDG_CONFIG_HOME, which CTest points into the build folder).
#include "reg_test_fixture.h"
#include "settings/reg_file_store.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orv::test {

namespace fs = std::filesystem;

namespace {

fs::path ConfigRoot() {
    const char* root = std::getenv("XDG_CONFIG_HOME");
    return root ? fs::path(root) : fs::temp_directory_path() / "orv-settings-tests";
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

void TRegTest::SetUp() {
    configDir_ = ConfigRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(configDir_);
    fs::create_directories(configDir_);
    file_ = configDir_ / "orv-os-update" / "registry.reg";
    reg_ = std::make_unique<TReg>(kProgramKey, std::make_unique<RegFileStore>(file_.string()));
}

void TRegTest::EmptyUserStore() {
    file_ = ConfigRoot() / "orv-os-update" / "registry.reg";
    fs::remove(file_);
}

RegDocument TRegTest::Stored() {
    RegParseResult r = ParseRegText(ReadText(file_));
    EXPECT_EQ(r.errorCount, 0u);
    return std::move(r.doc);
}

void TRegTest::Plant(const std::string& key, const std::string& name, uint32_t type,
                     const std::string& bytes) {
    RegParseResult r = ParseRegText(ReadText(file_));
    r.doc.AddKey(key).Set(name, RegValue::Hex(type, bytes));
    fs::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << WriteRegText(r.doc);
}

} // namespace orv::test
