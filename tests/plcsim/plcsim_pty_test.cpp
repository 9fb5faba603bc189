// orv-plcsim as the process a technician runs: its signals and its exit codes.
#include "tools.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace orv::test;
using namespace std::chrono_literals;

namespace {

TEST(PlcSimPty, LinkRemovedOnSigtermAndSigint) {
    for (int sig : {SIGTERM, SIGINT}) {
        PlcSim sim({"--name", "pty" + std::to_string(sig), "--no-pace"});
        const std::string link =
            std::string(std::getenv("XDG_RUNTIME_DIR")) + "/orv-ports/" + sim.Name;
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        sim.Proc().Signal(sig);
        EXPECT_EQ(sim.Proc().Wait(3s), 0);
        EXPECT_FALSE(std::filesystem::is_symlink(link));
    }
}

TEST(PlcSimPty, BadArgumentsExitTwo) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--station", "256"},
                                          {"--fault", "drop:1.5"},
                                          {"--version", "1.6"},
                                          {"--speed", "4800"},
                                          {"--bogus"},
                                          {"--name", "a/b"},
                                          {"--stations", "1-3", "--stations", "3:running"},
                                          {"--stations", "1:colour=red"},
                                          {"--stations", "4-2"},
                                          {"--station", "1", "--stations", "2"}}) {
        args.insert(args.begin(), ToolPath("plcsim"));
        const RunResult r = RunTool(args, 3s);
        EXPECT_EQ(r.Exit, 2) << args[1];
        EXPECT_TRUE(r.Out.empty()) << r.Out;
    }
}

} // namespace
