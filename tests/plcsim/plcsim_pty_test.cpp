// orv-plcsim as the process a technician runs: its signals and its exit codes.
#include "sim_process.h"

#include <gtest/gtest.h>

using namespace plcsim_test;

namespace {

TEST(PlcSimPty, LinkRemovedOnSigtermAndSigint) {
    for (int sig : {SIGTERM, SIGINT}) {
        SimProcess sim({"--no-pace"});
        ASSERT_TRUE(Exists(sim.LinkPath()));
        kill(sim.Pid(), sig);
        EXPECT_EQ(sim.Wait(3000), 0);
        EXPECT_FALSE(Exists(sim.LinkPath()));
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
        SimProcess sim(args, true);
        EXPECT_EQ(sim.Wait(3000), 2) << args[0];
        EXPECT_TRUE(sim.FirstLine().empty());
    }
}

} // namespace
