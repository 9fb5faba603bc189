#include "error_of.h"
#include "settings/reg_file_store.h"
#include "settings/reg_text.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orv;
namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

// While it lives, no file can grow past `bytes`: a full disk as this program sees one (root
// included), only with another error number.
class FileSizeLimit {
public:
    explicit FileSizeLimit(size_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldSignal_)(int) = nullptr;
};

// Each test gets a fresh folder below the test's own configuration folder (never the user's).
class RegFileStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("ORV_BINARY_DIR") ? std::getenv("XDG_CONFIG_HOME") : nullptr;
        fs::path root = base ? fs::path(base) : fs::temp_directory_path() / "orv-settings-tests";
        dir_ = root / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        file_ = dir_ / "orv-os-update" / "registry.reg";
        store_ = std::make_unique<RegFileStore>(file_.string());
    }

    void Save(const std::string& key, const std::string& name, const std::string& value) {
        auto k = store_->OpenKey(key, true);
        ASSERT_NE(k, nullptr);
        k->WriteString(name, value);
        ASSERT_TRUE(k->Close());
    }

    fs::path dir_;
    fs::path file_;
    std::unique_ptr<RegFileStore> store_;
};

} // namespace

TEST_F(RegFileStoreTest, OpeningCreatesFolderFileAndKey) {
    auto k = store_->OpenKey("Software\\Velko\\DUReroro\\v1.0", false);
    ASSERT_NE(k, nullptr);
    EXPECT_FALSE(k->ValueExists("OSFile"));
    EXPECT_TRUE(k->Close());
    RegParseResult r = ParseRegText(ReadText(file_));
    EXPECT_EQ(r.errorCount, 0u);
    EXPECT_NE(r.doc.FindKey("Software\\Velko\\DUReroro\\v1.0"), nullptr);
    // The lock and temporary files leave nothing else behind.
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(file_.parent_path()))
        n += e.path().filename() != "registry.reg.lock";
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(store_->OpenKey("Bad\\\\Path", true), nullptr);
}

TEST_F(RegFileStoreTest, ValuesKeepTheirTypeAndFailuresSayWhich) {
    {
        auto k = store_->OpenKey("K", true);
        ASSERT_NE(k, nullptr);
        k->WriteString("S", "text");
        k->WriteString("Lines", "a\nb");
        k->WriteDWord("N", 7);
        EXPECT_EQ(ErrorOf([&] { k->WriteString("Nul", std::string("a\0b", 3)); }),
                  "Failed to set data for 'Nul'");
        EXPECT_EQ(ErrorOf([&] { k->WriteDWord("Bad\nName", 1); }),
                  "Failed to set data for 'Bad\nName'");
        ASSERT_TRUE(k->Close());
    }
    std::string text = ReadText(file_);
    text += "\"Short\"=hex(4):01,02,03\n\"Exp\"=hex(2):41,00,00,00\n\"Bin\"=hex:01\n";
    WriteText(file_, text);

    auto k = store_->OpenKey("k", false);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->ReadString("s"), "text");
    EXPECT_EQ(k->ReadString("Lines"), "a\nb");
    EXPECT_EQ(k->ReadString("Exp"), "A");
    EXPECT_EQ(k->ReadDWord("N"), 7u);
    EXPECT_FALSE(k->ValueExists("Nul"));
    EXPECT_EQ(ErrorOf([&] { k->ReadString("N"); }), "Invalid data type for 'N'");
    EXPECT_EQ(ErrorOf([&] { k->ReadDWord("S"); }), "Invalid data type for 'S'");
    EXPECT_EQ(ErrorOf([&] { k->ReadString("Bin"); }), "Invalid data type for 'Bin'");
    EXPECT_EQ(ErrorOf([&] { k->ReadDWord("Short"); }), "Failed to get data for 'Short'");
}

TEST_F(RegFileStoreTest, DamagedFileIsSetAsideAndItsReadableValuesKept) {
    Save("K", "Kept", "yes");
    std::string damaged = ReadText(file_) + "this line is no .reg line\n\"Also\"=dword:00000002\n";
    WriteText(file_, damaged);

    ::testing::internal::CaptureStderr();
    auto k = store_->OpenKey("K", false);
    std::string warning = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->ReadString("Kept"), "yes");
    EXPECT_EQ(k->ReadDWord("Also"), 2u);
    EXPECT_TRUE(k->Close());
    EXPECT_NE(warning.find("damaged"), std::string::npos) << warning;
    EXPECT_NE(warning.find("line 6"), std::string::npos) << warning;
    EXPECT_NE(warning.find("registry.reg.bad"), std::string::npos) << warning;

    EXPECT_EQ(ReadText(file_.string() + ".bad"), damaged);
    RegParseResult clean = ParseRegText(ReadText(file_));
    EXPECT_EQ(clean.errorCount, 0u);
    EXPECT_EQ(clean.doc.FindKey("K")->Find("Also")->dword, 2u);

    ::testing::internal::CaptureStderr();
    EXPECT_NE(store_->OpenKey("K", false), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(RegFileStoreTest, OversizedFileIsSetAside) {
    fs::create_directories(file_.parent_path());
    WriteText(file_, std::string(RegFileStore::kMaxFileSize + 1, ';'));
    ::testing::internal::CaptureStderr();
    auto k = store_->OpenKey("K", true);
    std::string warning = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(k, nullptr);
    EXPECT_NE(warning.find("larger than"), std::string::npos) << warning;
    EXPECT_TRUE(k->Close());
    EXPECT_EQ(fs::file_size(file_.string() + ".bad"), RegFileStore::kMaxFileSize + 1);
    EXPECT_LT(fs::file_size(file_), 100u);
}

TEST_F(RegFileStoreTest, LinkedFileStaysLinked) {
    fs::create_directories(file_.parent_path());
    WriteText(dir_ / "elsewhere.reg", "");
    fs::create_symlink(dir_ / "elsewhere.reg", file_);
    Save("K", "V", "x");
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_NE(ReadText(dir_ / "elsewhere.reg").find("\"V\"=\"x\""), std::string::npos);
}

// These run as root too, where permission bits do not stop anything: the store is made
// unusable by putting a file or a folder where the other belongs.
TEST_F(RegFileStoreTest, FileOrFolderInTheWrongPlaceRefusesOpens) {
    fs::create_directories(dir_);
    WriteText(dir_ / "orv-os-update", "not a folder");
    EXPECT_EQ(store_->OpenKey("K", true), nullptr);
    EXPECT_EQ(store_->OpenKey("K", false), nullptr);
    EXPECT_EQ(ReadText(dir_ / "orv-os-update"), "not a folder");

    fs::remove(dir_ / "orv-os-update");
    fs::create_directories(file_);
    EXPECT_EQ(store_->OpenKey("K", true), nullptr);
    EXPECT_EQ(store_->OpenKey("K", false), nullptr);
    EXPECT_TRUE(fs::is_directory(file_));
}

TEST_F(RegFileStoreTest, StoreThatCannotBeLockedIsReadOnly) {
    Save("K", "Kept", "yes");
    std::string damaged = ReadText(file_) + "junk\n";
    WriteText(file_, damaged);
    fs::remove(file_.string() + ".lock");
    fs::create_directories(file_.string() + ".lock");

    EXPECT_EQ(store_->OpenKey("K", true), nullptr);
    ::testing::internal::CaptureStderr();
    {
        auto k = store_->OpenKey("K", false);
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->ReadString("Kept"), "yes");
        EXPECT_EQ(ErrorOf([&] { k->WriteString("New", "x"); }), "Failed to set data for 'New'");
        EXPECT_TRUE(k->Close());
    }
    EXPECT_EQ(store_->OpenKey("Missing", false), nullptr); // cannot be created
    std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadText(file_), damaged);
    EXPECT_FALSE(fs::exists(file_.string() + ".bad"));
    // Warned once, not at every open.
    EXPECT_NE(warnings.find("cannot be changed"), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find("damaged"), warnings.rfind("damaged")) << warnings;
}

TEST_F(RegFileStoreTest, ReadOnlyFileIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not bind root";
    Save("K", "Kept", "yes");
    fs::permissions(file_, fs::perms::owner_read);
    EXPECT_EQ(store_->OpenKey("K", true), nullptr);
    auto k = store_->OpenKey("K", false);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->ReadString("Kept"), "yes");
}

// Whatever stops a save, the file already there stays as it was, and the store says why.
TEST_F(RegFileStoreTest, FailedSavesKeepTheOldFileAndSayWhy) {
    Save("K", "Kept", "yes");
    const std::string before = ReadText(file_);
    const auto unchanged = [&] {
        EXPECT_EQ(ReadText(file_), before);
        for (const auto& e : fs::directory_iterator(file_.parent_path()))
            EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
    };

    // Another program holds the lock for longer than an open waits.
    {
        const std::string lockPath = file_.string() + ".lock";
        const int held = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        RegFileStore store(file_.string(), 50);
        EXPECT_EQ(store.OpenKey("K", true), nullptr);
        EXPECT_NE(store.FailureReason().find("holds the settings lock " + lockPath),
                  std::string::npos)
            << store.FailureReason();
        EXPECT_EQ(store.Location("K"), file_.string());
        ::close(held);
        EXPECT_NE(store.OpenKey("K", true), nullptr); // free again
    }
    unchanged();

    // The disk fills while the new file is written.
    {
        auto k = store_->OpenKey("K", true);
        ASSERT_NE(k, nullptr);
        k->WriteString("New", std::string(200, 'x'));
        FileSizeLimit full(before.size());
        EXPECT_FALSE(k->Close());
    }
    EXPECT_NE(store_->FailureReason().find(std::strerror(EFBIG)), std::string::npos)
        << store_->FailureReason();
    unchanged();

    // A damaged file is copied aside, then its sound rewrite fails: it stays where it was.
    const std::string damaged = "[HKEY_CURRENT_USER\\K]\n\"Kept\"=\"yes\"\n";
    WriteText(file_, damaged);
    {
        ::testing::internal::CaptureStderr();
        auto k = store_->OpenKey("K", true);
        ::testing::internal::GetCapturedStderr();
        ASSERT_NE(k, nullptr);
        k->WriteString("New", "x");
        FileSizeLimit full(damaged.size());
        EXPECT_FALSE(k->Close());
    }
    EXPECT_EQ(ReadText(file_), damaged);
    EXPECT_EQ(ReadText(file_.string() + ".bad"), damaged);
}
