// TReg's Qt members, and TReg's .reg file shared with other processes.
#include "child_process.h"
#include "reg_test_fixture.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QTableWidget>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace orv;
using namespace orv::test;
namespace fs = std::filesystem;

namespace {

// The probe finds its store where a real program would: through XDG_CONFIG_HOME, here the
// test's own configuration folder.
std::string gProbeConfig;

std::vector<std::string> Probe(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/env", "XDG_CONFIG_HOME=" + gProbeConfig, ORV_REG_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

int RunProbe(const std::vector<std::string>& args, std::string* out = nullptr) {
    const RunResult run = RunTool(Probe(args), std::chrono::seconds(60));
    if (out)
        *out = run.Out;
    return run.Exit;
}

} // namespace

TEST_F(TRegTest, ValueSurvivesIntoAnotherProcess) {
    gProbeConfig = configDir_.string();
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
    gProbeConfig = configDir_.string();
    constexpr int kEach = 60;
    Process a(Probe({"save-many", kProgramKey, "A", std::to_string(kEach)}));
    Process b(Probe({"save-many", kProgramKey, "B", std::to_string(kEach)}));
    EXPECT_EQ(a.Wait(std::chrono::seconds(60)), 0);
    EXPECT_EQ(b.Wait(std::chrono::seconds(60)), 0);
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
    EXPECT_FALSE(reg_->SaveInteger("", "Count", 2));
    // The first failure is kept for the report, with its reason.
    const std::string why = reg_->TakeSaveFailure();
    EXPECT_NE(why.find("registry.reg.lock"), std::string::npos) << why;
    EXPECT_EQ(reg_->Location(), file_.string());
    EXPECT_EQ(reg_->TakeSaveFailure(), "");
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
