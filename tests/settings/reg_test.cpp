#include "settings/reg.h"
#include "settings/reg_file_store.h"
#include "settings/reg_text.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QTableWidget>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace orv;
namespace fs = std::filesystem;

namespace {

const std::string kProgramKey = "Software\\Velko\\DUReroro\\v1.0";

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The probe finds its store where a real program would: through XDG_CONFIG_HOME.
std::string gProbeConfig;

pid_t StartProbe(const std::vector<std::string>& args, int outFd = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).substr(0, 16) != "XDG_CONFIG_HOME=")
            env.emplace_back(*e);
    env.push_back("XDG_CONFIG_HOME=" + gProbeConfig);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all = {ORV_REG_PROBE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int WaitProbe(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int RunProbe(const std::vector<std::string>& args, std::string* out = nullptr) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = StartProbe(args, fds[1]);
    close(fds[1]);
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        if (out)
            out->append(buf, static_cast<size_t>(n));
    close(fds[0]);
    return WaitProbe(pid);
}

// Every test has a fresh folder of its own below the test's configuration folder; its TReg
// and the probes it starts keep their settings there.
class TRegTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { root_ = std::getenv("XDG_CONFIG_HOME"); }

    void SetUp() override {
        fs::path dir = root_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
        gProbeConfig = dir.string();
        file_ = dir / "orv-os-update" / "registry.reg";
        reg_ = std::make_unique<TReg>(kProgramKey, std::make_unique<RegFileStore>(file_.string()));
    }

    RegDocument Stored() {
        RegParseResult r = ParseRegText(ReadText(file_));
        EXPECT_EQ(r.errorCount, 0u);
        return std::move(r.doc);
    }

    static inline fs::path root_;
    fs::path file_;
    std::unique_ptr<TReg> reg_;
};

} // namespace

TEST_F(TRegTest, FirstRunLeavesDefaultAndCreatesKey) {
    // The default store: the test's own XDG_CONFIG_HOME (see SetUpTestSuite).
    file_ = root_ / "orv-os-update" / "registry.reg";
    fs::remove(file_);
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

TEST_F(TRegTest, ValueSurvivesIntoAnotherProcess) {
    ASSERT_TRUE(reg_->SaveString("", "OSFile", "/home/op/a b.os"));
    std::string out;
    EXPECT_EQ(RunProbe({"load", kProgramKey, "OSFile"}, &out), 0);
    EXPECT_EQ(out, "/home/op/a b.os");
    EXPECT_EQ(RunProbe({"save", kProgramKey, "ComPort", "ttyUSB0"}), 0);
    std::string port;
    ASSERT_TRUE(reg_->LoadStringA("", "ComPort", port));
    EXPECT_EQ(port, "ttyUSB0");
    EXPECT_EQ(RunProbe({"load", kProgramKey, "Missing"}), 1);
}

TEST_F(TRegTest, TwoProcessesSavingAtOnceLoseNothing) {
    constexpr int kEach = 60;
    pid_t a = StartProbe({"save-many", kProgramKey, "A", std::to_string(kEach)});
    pid_t b = StartProbe({"save-many", kProgramKey, "B", std::to_string(kEach)});
    EXPECT_EQ(WaitProbe(a), 0);
    EXPECT_EQ(WaitProbe(b), 0);
    for (const char* prefix : {"A", "B"}) {
        for (int i = 0; i < kEach; ++i) {
            std::string v;
            EXPECT_TRUE(reg_->LoadStringA("", prefix + std::to_string(i), v)) << prefix << i;
            EXPECT_EQ(v, "value " + std::to_string(i));
        }
    }
}

// As root nothing is read-only by its permission bits, so the store is blocked by folders
// standing where its lock file and then its settings file belong.
TEST_F(TRegTest, UnwritableStoreMakesSavesFalse) {
    ASSERT_TRUE(reg_->SaveString("", "Station", "01"));
    fs::remove(file_.string() + ".lock");
    fs::create_directories(file_.string() + ".lock");
    EXPECT_FALSE(reg_->SaveString("", "Station", "02"));
    std::string station;
    EXPECT_TRUE(reg_->LoadStringA("", "Station", station));
    EXPECT_EQ(station, "01");

    fs::remove(file_);
    fs::create_directories(file_);
    station = "default";
    EXPECT_FALSE(reg_->LoadStringA("", "Station", station));
    EXPECT_EQ(station, "default");
    QWidget form;
    form.setObjectName("fmTest");
    EXPECT_FALSE(reg_->SaveForm(&form, roPosition));
}

TEST_F(TRegTest, FontRoundTripAndHeightBeforeSize) {
    QFont font("DejaVu Sans", 13);
    font.setFixedPitch(true);
    ASSERT_TRUE(reg_->SaveFont("", "EditFont", font, QColor(0x11, 0x22, 0x33)));
    RegDocument doc = Stored();
    const RegKeyData* k = doc.FindKey(kProgramKey + "\\EditFont");
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->Values().size(), 6u);
    EXPECT_EQ(k->Values()[0].name, "Charset");
    EXPECT_EQ(k->Find("Color")->dword, 0x332211u);
    EXPECT_EQ(static_cast<int32_t>(k->Find("Height")->dword), -17);
    EXPECT_EQ(k->Find("Pitch")->dword, 2u);
    EXPECT_EQ(k->Find("Size")->dword, 13u);

    QFont loaded("Other", 8);
    QColor color;
    ASSERT_TRUE(reg_->LoadFont("", "EditFont", loaded, &color));
    EXPECT_EQ(loaded.family(), "DejaVu Sans");
    EXPECT_EQ(loaded.pointSize(), 13); // the size wins over the height read before it
    EXPECT_TRUE(loaded.fixedPitch());
    EXPECT_EQ(color, QColor(0x11, 0x22, 0x33));

    QFont untouched("Other", 8);
    ASSERT_TRUE(reg_->LoadFont("", "NoFont", untouched));
    EXPECT_EQ(untouched, QFont("Other", 8));
}

TEST_F(TRegTest, FormPlacementByOptions) {
    QWidget form;
    form.setObjectName("fmUpdate");
    form.move(40, 50);
    form.resize(300, 200);
    ASSERT_TRUE(reg_->SaveForm(&form, roPosition));
    RegDocument doc = Stored();
    const RegKeyData* k = doc.FindKey(kProgramKey + "\\Form\\fmUpdate");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->Find("Left")->dword, 40u);
    EXPECT_EQ(k->Find("Width"), nullptr);

    ASSERT_TRUE(reg_->SaveForm(&form, roPosition | roSize));
    QWidget other;
    other.setObjectName("fmUpdate");
    other.move(1, 2);
    other.resize(10, 20);
    ASSERT_TRUE(reg_->LoadForm(&other, roSize));
    EXPECT_EQ(other.pos(), QPoint(1, 2));
    EXPECT_EQ(other.size(), QSize(300, 200));
    ASSERT_TRUE(reg_->LoadForm(&other, roPosition));
    EXPECT_EQ(other.pos(), QPoint(40, 50));
}

TEST_F(TRegTest, ColumnWidthsOfControlsAndGroups) {
    QWidget form;
    form.setObjectName("fmList");
    QTreeWidget view(&form);
    view.setObjectName("lvItems");
    view.setColumnCount(3);
    QTableWidget grid(2, 2, &form);
    grid.setObjectName("sgGrid");
    for (int i = 0; i < 3; ++i)
        view.setColumnWidth(i, 50 + i);
    grid.setColumnWidth(0, 70);
    grid.setColumnWidth(1, 71);
    ASSERT_TRUE(reg_->SaveControl(&form, &view, roColumnWidths));
    ASSERT_TRUE(reg_->SaveControl(&form, &grid, roColumnWidths));
    for (int i = 0; i < 3; ++i)
        view.setColumnWidth(i, 10);
    grid.setColumnWidth(0, 10);
    grid.setColumnWidth(1, 10);
    ASSERT_TRUE(reg_->LoadControl(&form, &view, roColumnWidths));
    ASSERT_TRUE(reg_->LoadControl(&form, &grid, roColumnWidths));
    EXPECT_EQ(view.columnWidth(2), 52);
    EXPECT_EQ(grid.columnWidth(1), 71);
    EXPECT_NE(Stored().FindKey(kProgramKey + "\\Form\\fmList\\sgGrid"), nullptr);

    QLabel label(&form);
    label.setObjectName("lblNote");
    EXPECT_FALSE(reg_->LoadControl(&form, &label, roColumnWidths));
    EXPECT_FALSE(reg_->SaveControl(&form, &label, roColumnWidths));
    EXPECT_FALSE(Stored().KeyExists(kProgramKey + "\\Form\\fmList\\lblNote"));

    TColumnsGroup groups{{{{100, 101}}, {{200}}}};
    ASSERT_TRUE(reg_->SaveColumnsGroup("", "Columns", groups));
    EXPECT_EQ(Stored().FindKey(kProgramKey + "\\Columns")->Find("Column[1.0].Width")->dword, 200u);
    TColumnsGroup more{{{{1, 2, 3}}, {{4}}}};
    ASSERT_TRUE(reg_->LoadColumnsGroup("", "Columns", more));
    EXPECT_EQ(more.Groups[0].Widths, (std::vector<int>{100, 101, 3}));
    EXPECT_EQ(more.Groups[1].Widths, (std::vector<int>{200}));
}

int main(int argc, char** argv) {
    // Outside CTest the user's own configuration folder must stay untouched.
    if (!std::getenv("ORV_BINARY_DIR"))
        setenv("XDG_CONFIG_HOME", (fs::temp_directory_path() / "orv-settings-tests").c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
