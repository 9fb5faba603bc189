// Two orv-flash runs side by side on two simulated PLCs: one is updated and verified, the other
// keeps its old OS after the download, which the verification must catch.

#include "tools.h"

#include <gtest/gtest.h>

namespace orv::test {
namespace {

using namespace std::chrono_literals;

TEST(FlashPair, TwoUpdatesAtOnceOneVerifiedOneStillOnItsOldOs) {
    const std::string dir = ScratchDir("pair");
    const std::string imageA = dir + "/os161.bin", imageB = dir + "/os170.bin";
    MakeImage(imageA, ImageRecipe{});
    MakeImage(imageB, ImageRecipe{0x22100, 100, "1.70", "11/2012", 1, 77});
    const std::string flashA = dir + "/a.flash", flashB = dir + "/b.flash";
    PlcSim simA({"--name", "flashpaira", "--no-pace", "--flash-out", flashA});
    PlcSim simB({"--name", "flashpairb", "--no-pace", "--flash-out", flashB, "--keep-os",
                 "--version", "1.50", "--date", "01/2009", "--flash-type", "1"});

    Process a({ToolPath("flash"), "--port", simA.Name, "--image", imageA});
    Process b({ToolPath("flash"), "--port", simB.Name, "--image", imageB});
    EXPECT_EQ(a.Wait(120s), 0) << a.Out() << a.Err();
    EXPECT_EQ(b.Wait(120s), 4) << b.Out() << b.Err();

    EXPECT_EQ(CompareFlash(flashA, imageA), "");
    EXPECT_NE(a.Out().find("DU Reroro ... OK!!"), std::string::npos) << a.Out();
    EXPECT_NE(a.Out().find("verified: the PLC runs OS 1.61 of 03/2010"), std::string::npos)
        << a.Out();

    // The download itself went right; the PLC just does not run it.
    EXPECT_EQ(CompareFlash(flashB, imageB), "");
    EXPECT_NE(b.Out().find("DU Reroro ... OK!!"), std::string::npos) << b.Out();
    EXPECT_NE(b.Err().find("verification failed: version: the PLC reports 1.50, the image holds "
                           "1.70; release date: the PLC reports 01/2009, the image holds 11/2012"),
              std::string::npos)
        << b.Err();
    EXPECT_EQ(b.Err().find("flash type"), std::string::npos) << b.Err();
}

} // namespace
} // namespace orv::test
