// orv-flash.exe under Wine against orv-plcsim, whose pseudo-terminal is mapped as COM5: the
// status, a whole update with the flash compared byte for byte, the port list and a missing
// port; and the program's windows the same way on COM7. A Linux program of the plain build, run
// by the Windows build's CTest, which names Wine, the prefix, orv-flash.exe, the windows' test
// program and the tool that adds a port to the prefix's Ports device class in ORV_WINE,
// WINEPREFIX, ORV_FLASH_EXE, ORV_WINDOWS_TESTS_EXE and ORV_TEST_PORTS_EXE.

#include "tools.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orv::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string gDir;
std::string gImage; // OS 1.61 of 03/2010, 544 pages from page 128 on

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Wine shows the Linux root as drive Z:.
std::string WindowsPath(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

RunResult Wine(std::vector<std::string> args, std::chrono::milliseconds timeout = 120s) {
    args.insert(args.begin(), Environment("ORV_WINE"));
    return RunTool(args, timeout);
}

// The virtual-port folder is shared with whatever else runs these tests at the same time.
std::string SimName(const std::string& base) {
    return base + std::to_string(getpid());
}

// A Windows program ends its lines with CR LF; compared here without the CR.
std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
}

RunResult Flash(std::vector<std::string> args, std::chrono::milliseconds timeout = 120s) {
    args.insert(args.begin(), Environment("ORV_FLASH_EXE"));
    RunResult r = Wine(args, timeout);
    r.Out = WithoutCr(r.Out);
    r.Err = WithoutCr(r.Err);
    return r;
}

// COMn of the prefix, linked to a simulator's pseudo-terminal for as long as it lives. The
// terminal is made the controlling terminal of a session of its own: otherwise Wine's server,
// which opens it, would take it as its own and log its hang-up when the simulator ends.
class TComLink {
public:
    TComLink(int number, const std::string& target)
        : Link(Environment("WINEPREFIX") + "/dosdevices/com" + std::to_string(number)) {
        fs::remove(Link);
        if (target.empty())
            return;
        fs::create_symlink(target, Link);
        Holder = fork();
        if (Holder == 0) {
            setsid();
            signal(SIGHUP, SIG_IGN);
            if (open(target.c_str(), O_RDWR) >= 0)
                pause();
            _exit(0);
        }
    }
    ~TComLink() {
        if (Holder > 0) {
            kill(Holder, SIGKILL);
            waitpid(Holder, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove(Link, ignored);
    }
    const std::string Link;

private:
    pid_t Holder = -1;
};

class FlashWine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name : {"ORV_WINE", "ORV_FLASH_EXE", "ORV_WINDOWS_TESTS_EXE",
                                 "ORV_TEST_PORTS_EXE", "WINEPREFIX"})
            ASSERT_FALSE(Environment(name).empty())
                << name << " unset: run by the Windows build's CTest";
        gDir = ScratchDir("wine");
        gImage = gDir + "/os161.bin";
        MakeImage(gImage, ImageRecipe{});
    }
};

TEST_F(FlashWine, StatusAndTheListOfPortsOnCom5) {
    PlcSim sim({"--name", SimName("winestat"), "--no-pace", "--station", "10", "--version", "1.23",
                "--date", "07/2015", "--flash-type", "3"});
    TComLink com5(5, sim.Path);
    const RunResult r = Flash({"--port", "COM5", "--station", "10", "--status"});
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    for (const char* line : {"PLC Status", "Version:       1.23", "Released Date: 07/2015",
                             "Flash Type:    MA", "Station:       10"})
        EXPECT_NE(r.Out.find(line), std::string::npos) << line << "\n" << r.Out;

    // COM5 as a serial driver installs it, in the Ports device class.
    const std::string ports = Environment("ORV_TEST_PORTS_EXE");
    const RunResult added = Wine({ports, "add", "COM5", "Orv PLC simulator"});
    ASSERT_EQ(added.Exit, 0) << Describe(added);
    const RunResult list = Flash({"--list"});
    Wine({ports, "remove"});
    EXPECT_EQ(list.Exit, 0) << Describe(list);
    EXPECT_NE(("\n" + list.Out).find("\nCOM5: (Orv PLC simulator)\n"), std::string::npos)
        << list.Out;
}

TEST_F(FlashWine, WholeUpdateLeavesTheImageInTheFlash) {
    const std::string flashOut = gDir + "/full.flash";
    PlcSim sim({"--name", SimName("winefull"), "--flash-out", flashOut});
    TComLink com5(5, sim.Path);
    const RunResult r = Flash({"--port", "COM5", "--image", WindowsPath(gImage), "--trace"}, 240s);
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    EXPECT_NE(r.Out.find("DU Reroro ... OK!!"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("verified: the PLC runs OS 1.61 of 03/2010"), std::string::npos) << r.Out;
    EXPECT_EQ(CompareFlash(flashOut, gImage), "");
    // Each page answered in a block that is the whole answer, taken without falling back to
    // interval timing; unless the machine was too busy to keep the 800 ms time-out and a page
    // went again, whose late answer rightly ends the rule.
    if (r.Out.find("Prog .. Try #") != std::string::npos)
        return;
    size_t answers = 0;
    for (size_t at = r.Err.find("< 115200 8E1 2: 06 0D\n"); at != std::string::npos;
         at = r.Err.find("< 115200 8E1 2: 06 0D\n", at + 1))
        ++answers;
    EXPECT_EQ(answers, 417u);
    const size_t fallback = r.Err.find("interval timing");
    EXPECT_EQ(fallback, std::string::npos)
        << r.Err.substr(fallback - std::min<size_t>(fallback, 3000), 4000);
}

TEST_F(FlashWine, AMissingPortFailsWithExitCode3) {
    TComLink nothing(6, "");
    const RunResult r = Flash({"--port", "COM6", "--status"}, 30s);
    EXPECT_EQ(r.Exit, 3) << Describe(r);
    EXPECT_EQ(r.Err.rfind("orv-flash: Error opening serial port\n  \\\\.\\COM6: ", 0), 0u) << r.Err;
    EXPECT_NE(r.Err.find("There is no such port on this computer"), std::string::npos) << r.Err;
}

// The command line reaches the program as UTF-8 whatever the code page, so an image named
// outside ASCII is read (and checked before the missing port is found).
TEST_F(FlashWine, AnImageNamedOutsideAsciiIsRead) {
    const std::string image = gDir + "/Pr\u00FCfung \u00D6S.bin";
    fs::copy_file(gImage, image, fs::copy_options::overwrite_existing);
    TComLink nothing(6, "");
    const RunResult r = Flash({"--port", "COM6", "--image", WindowsPath(image)}, 30s);
    EXPECT_EQ(r.Exit, 3) << Describe(r);
    EXPECT_NE(r.Out.find("OS 1.61 of 03/2010"), std::string::npos) << Describe(r);
}

// The windows' own test program drives "Get PLC's Status" and a whole update with the stop
// question answered Yes (windows_test.cpp, Win32WithPlcSim); the flash is compared here.
TEST_F(FlashWine, ProgramWindowsReadTheStatusAndUpdateARunningPlc) {
    const std::string flashOut = gDir + "/windows.flash";
    PlcSim sim({"--name", "winegui", "--no-pace", "--speed", "9600", "--format", "7E1", "--running",
                "--station", "10", "--version", "1.61", "--date", "03/2010", "--flash-type", "2",
                "--flash-out", flashOut});
    TComLink com7(7, sim.Path);
    setenv("ORV_PLCSIM_COM", "COM7", 1);
    setenv("ORV_PLCSIM_IMAGE", WindowsPath(gImage).c_str(), 1);
    const RunResult r = Wine({Environment("ORV_WINDOWS_TESTS_EXE"),
                              "--gtest_filter=Win32WithPlcSim.*", "--gtest_brief=1"},
                             120s);
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    EXPECT_NE(r.Out.find("1 test"), std::string::npos) << r.Out;
    EXPECT_EQ(CompareFlash(flashOut, gImage), "");
}

} // namespace
} // namespace orv::test
