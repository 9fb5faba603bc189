// orv-flash --plan over simulated multi-drop lines, each an orv-plcsim of its own.

#include "man_page.h"
#include "tools.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

namespace orv::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// 290 frames from page 255 on: the shortest download an image allows (the PLC then finds its
// image CRC wrong and keeps its OS, which a run that is interrupted never reaches).
const ImageRecipe kShortImage{0x22000, 255, "1.61", "03/2010", 2, 3};

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// The events of a finished run, each as orv-flash(1) documents it.
std::vector<Json> Events(const std::string& out) {
    std::vector<Json> events = JsonLines(out);
    EXPECT_EQ(UndocumentedInEvents(events), "") << "orv-flash(1), JSON EVENTS";
    return events;
}

// Where in the stream an event of a plan line comes first.
long Position(const std::vector<Json>& events, const std::string& name, int line) {
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].value("event", "") == name && events[i].value("plan_line", 0) == line)
            return static_cast<long>(i);
    return -1;
}

std::map<int, Json> SummaryByLine(const std::vector<Json>& events) {
    std::map<int, Json> rows;
    for (const Json& row : events.empty() ? Json::array() : events.back().value("plcs", Json()))
        rows[row.at("plan_line").get<int>()] = row;
    return rows;
}

TEST(FlashPlan, APlanIsRefusedWholeBeforeAnyPlcIsTouched) {
    const std::string dir = ScratchDir("plan-refused");
    MakeImage(dir + "/os161.bin", kShortImage);
    PlcSim sim({"--name", "flashplanr", "--no-pace"});
    Write(dir + "/plan.csv", "port,station,image\n"
                             "flashplanr,1,os161.bin\n"
                             "flashplanr,2,missing.bin\n"
                             "flashplanr,300,os161.bin\n"
                             "\"" +
                                 sim.Path + "\",1,os161.bin\n");
    const RunResult r = RunTool(
        {ToolPath("flash"), "--plan", dir + "/plan.csv", "--stop-plc", "yes", "--json"}, 30s);
    EXPECT_EQ(r.Exit, 2) << r.Out << r.Err;
    EXPECT_NE(r.Err.find("plan.csv:3: OS File << " + dir + "/missing.bin >> not Exist !!"),
              std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("plan.csv:4: station: 300 is not"), std::string::npos) << r.Err;
    // The same device by its path: station 1 twice on one line.
    EXPECT_NE(r.Err.find("plan.csv:5: station 1 on " + sim.Path + " is on line 2 already"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(r.Err.find("plan.csv:2"), std::string::npos) << r.Err;
    const std::vector<Json> events = Events(r.Out);
    ASSERT_EQ(events.size(), 1u) << r.Out;
    EXPECT_EQ(events[0].at("result"), "refused");
    EXPECT_NE(events[0].at("message").get<std::string>().find("plan.csv:4: station: 300"),
              std::string::npos);
    sim.Stop();
    EXPECT_EQ(sim.Log().find("\"dir\":\"rx\""), std::string::npos);
}

// Two lines side by side: on one, two PLCs one after the other, each with its own line settings
// and speed; the other vanishes in the middle of its first PLC's download.
TEST(FlashPlan, TwoLinesOneVanishesTheOtherIsUpdatedAndVerified) {
    const std::string dir = ScratchDir("plan-two-lines");
    const std::string image = dir + "/os161.bin";
    MakeImage(image, ImageRecipe{});
    PlcSim good({"--name", "flashplana", "--no-pace", "--speed", "19200", "--format", "7E1",
                 "--flash-out", dir + "/a", "--stations", "1:version=1.50:date=01/2009",
                 "--stations", "3:running"});
    PlcSim gone({"--name", "flashplanb", "--no-pace", "--flash-out", dir + "/b", "--stations",
                 "2,4", "--fault", "vanish-after:40"});
    Write(dir + "/plan.csv", "# line A runs at 19200 7E1; line B fails part-way\n"
                             "port,station,image,baud,parity,databits,speed,stop_plc\n"
                             "flashplana,1,os161.bin,19200,even,7\n"
                             "flashplana, 3 ,\"os161.bin\",19200,EVEN,7,57600,yes\n"
                             "\n"
                             "flashplanb,2,os161.bin\n"
                             "flashplanb,4,os161.bin,,,,,\n");
    const RunResult r =
        RunTool({ToolPath("flash"), "--plan", dir + "/plan.csv", "--json"}, 200s, {}, 20s);
    ASSERT_EQ(r.Exit, 1) << r.Stalled << r.Out << r.Err;
    const std::vector<Json> events = Events(r.Out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().at("event"), "plan");
    ASSERT_EQ(events.back().at("event"), "summary") << events.back();
    for (const Json& e : events) {
        const std::string name = e.value("event", "");
        EXPECT_EQ(e.contains("plan_line"), name != "plan" && name != "summary") << e;
    }

    const auto rows = SummaryByLine(events);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows.at(3).at("result"), "ok");
    EXPECT_EQ(rows.at(3).at("os_before").at("version"), "1.50");
    EXPECT_EQ(rows.at(3).at("os_after").at("version"), "1.61");
    EXPECT_EQ(rows.at(4).at("result"), "ok");
    EXPECT_EQ(rows.at(4).at("os_after").at("date"), "03/2010");
    EXPECT_EQ(rows.at(6).at("result"), "failed");
    EXPECT_NE(rows.at(6).at("message").get<std::string>().find("hung up"), std::string::npos);
    EXPECT_TRUE(rows.at(6).at("os_after").is_null());
    // The PLC that may be in its download mode keeps the rest of its line from being run.
    EXPECT_TRUE(rows.at(6).at("download_mode").get<bool>());
    EXPECT_EQ(rows.at(7).at("result"), "not-run");
    EXPECT_NE(rows.at(7).at("message").get<std::string>().find("plan line 6 may be in download"),
              std::string::npos);
    EXPECT_EQ(events.back().at("not_run").get<int>(), 1);
    EXPECT_EQ(events.back().at("updated").get<int>(), 2);
    EXPECT_EQ(events.back().at("exit").get<int>(), 1);
    EXPECT_EQ(CompareFlash(dir + "/a.1", image), "");
    EXPECT_EQ(CompareFlash(dir + "/a.3", image), "");
    EXPECT_FALSE(std::filesystem::exists(dir + "/b.2"));

    // Each PLC with its own settings and speed change, and its own restore.
    ASSERT_EQ(Named(events, "start", 4).size(), 1u);
    EXPECT_EQ(Named(events, "start", 4).at(0).at("speed").get<int>(), 57600);
    EXPECT_EQ(Named(events, "start", 4).at(0).at("databits").get<int>(), 7);
    EXPECT_EQ(Named(events, "start", 3).at(0).at("speed").get<int>(), 115200);
    EXPECT_EQ(Named(events, "question", 4).at(0).at("answer"), true);
    for (int line : {3, 4}) {
        ASSERT_EQ(Named(events, "restore", line).size(), 1u) << line;
        EXPECT_TRUE(Named(events, "restore", line).at(0).at("answered").get<bool>()) << line;
    }
    // The lines side by side, the PLCs of one line one after the other.
    EXPECT_LT(Position(events, "start", 6), Position(events, "done", 3));
    EXPECT_LT(Position(events, "done", 3), Position(events, "start", 4));
    EXPECT_TRUE(Named(events, "start", 7).empty());
}

// A dry run sends status requests only and says what an update would do; --skip-current (and
// its column) leaves a PLC alone that reports the image's OS already, so a plan run twice
// updates each PLC once; every update leaves its line in the history.
TEST(FlashPlan, DryRunAndSkipCurrentOverCurrentOldRunningAndAbsentPlcs) {
    const std::string dir = ScratchDir("plan-skip");
    ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    MakeImage(dir + "/os161.bin", ImageRecipe{});
    PlcSim sim({"--name", "flashplans", "--no-pace", "--stations",
                "1:version=1.61:date=03/2010:flash-type=2", "--stations",
                "2:version=1.50:date=01/2009", "--stations", "3:running"});
    Write(dir + "/dry.csv", "port,station,image,stop_plc\n"
                            "flashplans,1,os161.bin\nflashplans,2,os161.bin\n"
                            "flashplans,3,os161.bin,no\nflashplans,4,os161.bin\n");
    const RunResult dry = RunTool({ToolPath("flash"), "--plan", dir + "/dry.csv", "--dry-run",
                                   "--skip-current", "--stop-plc", "yes", "--json"},
                                  60s);
    EXPECT_EQ(dry.Exit, 1) << dry.Out << dry.Err;
    const std::vector<Json> events = Events(dry.Out);
    ASSERT_FALSE(events.empty());
    auto rows = SummaryByLine(events);
    EXPECT_EQ(rows.at(2).at("result"), "current");
    EXPECT_EQ(rows.at(3).at("result"), "update");
    EXPECT_EQ(rows.at(3).at("os_image").at("version"), "1.61");
    EXPECT_NE(rows.at(3).at("message").get<std::string>().find("would be stopped (stop_plc yes)"),
              std::string::npos);
    EXPECT_NE(rows.at(4).at("message").get<std::string>().find("would fail with stop_plc no"),
              std::string::npos);
    EXPECT_EQ(Named(events, "dry_run", 4).at(0).at("if_running"), "fail");
    EXPECT_TRUE(Named(events, "dry_run", 4).at(0).at("running").is_null());
    EXPECT_EQ(rows.at(5).at("result"), "unreachable");
    EXPECT_EQ(events.back().at("would_update").get<int>(), 2);
    EXPECT_EQ(events.back().at("unreachable").get<int>(), 1);
    EXPECT_TRUE(events.back().at("dry_run").get<bool>());
    // Nothing but status requests went out.
    std::istringstream lines(sim.Log());
    size_t frames = 0;
    for (std::string line; std::getline(lines, line);) {
        const Json e = Json::parse(line);
        if (e.value("dir", "") != "frame")
            continue;
        ++frames;
        // Command "00" in bytes 3 and 4, whichever station it was for.
        EXPECT_EQ(e.at("hex").get<std::string>().substr(9, 5), "30 30") << line;
    }
    EXPECT_GE(frames, 3u);

    Write(dir + "/plan.csv", "port,station,image,stop_plc,skip_current\n"
                             "flashplans,1,os161.bin\nflashplans,2,os161.bin\n"
                             "flashplans,3,os161.bin,yes\n");
    const RunResult first =
        RunTool({ToolPath("flash"), "--plan", dir + "/plan.csv", "--skip-current", "--json"}, 60s);
    EXPECT_EQ(first.Exit, 0) << first.Out << first.Err;
    rows = SummaryByLine(Events(first.Out));
    EXPECT_EQ(rows.at(2).at("result"), "current");
    EXPECT_TRUE(Named(JsonLines(first.Out), "progress", 2).empty());
    EXPECT_EQ(rows.at(3).at("result"), "ok");
    EXPECT_EQ(rows.at(4).at("result"), "ok");
    // Again: all current, but the column asks for station 2 once more.
    Write(dir + "/plan.csv", "port,station,image,stop_plc,skip_current\n"
                             "flashplans,1,os161.bin\nflashplans,2,os161.bin,,No\n"
                             "flashplans,3,os161.bin,yes\n");
    const RunResult again =
        RunTool({ToolPath("flash"), "--plan", dir + "/plan.csv", "--skip-current", "--json"}, 60s);
    EXPECT_EQ(again.Exit, 0) << again.Out << again.Err;
    rows = SummaryByLine(Events(again.Out));
    EXPECT_EQ(rows.at(2).at("result"), "current");
    EXPECT_EQ(rows.at(3).at("result"), "ok");
    EXPECT_EQ(rows.at(4).at("result"), "current");
    EXPECT_EQ(JsonLines(again.Out).back().at("current").get<int>(), 2);

    const RunResult history = RunTool({ToolPath("flash"), "--history", "--json"}, 10s);
    const std::vector<Json> entries = Named(Events(history.Out), "history");
    ASSERT_EQ(entries.size(), 6u) << history.Out;
    std::vector<std::string> results;
    results.reserve(entries.size());
    for (const Json& e : entries)
        results.push_back(std::to_string(e.at("station").get<int>()) +
                          e.at("result").get<std::string>());
    EXPECT_EQ(results,
              (std::vector<std::string>{"1current", "2ok", "3ok", "1current", "2ok", "3current"}));
    EXPECT_EQ(entries[2].at("os_before").at("version"), "1.00");
    EXPECT_EQ(entries[2].at("os_after").at("version"), "1.61");
    EXPECT_EQ(entries[2].at("image_size").get<int>(), 0x22000);
    EXPECT_EQ(entries[2].at("port"), "flashplans");
    const RunResult two = RunTool({ToolPath("flash"), "--history", "--station", "2"}, 10s);
    EXPECT_NE(two.Out.find("2 of 6 recorded updates shown"), std::string::npos) << two.Out;
}

TEST(FlashPlan, AnInterruptAbortsEveryRunAndLeavesPlcsInDownloadModeAsTheyAre) {
    const std::string dir = ScratchDir("plan-interrupt");
    MakeImage(dir + "/os161.bin", kShortImage);
    PlcSim c({"--name", "flashplanc", "--no-pace", "--stations", "1,2"});
    PlcSim d({"--name", "flashpland", "--no-pace", "--station", "5"});
    Write(dir + "/plan.csv", "port,station,image\n"
                             "flashplanc,1,os161.bin\n"
                             "flashplanc,2,os161.bin\n"
                             "flashpland,5,os161.bin\n");
    // Interval timing leaves the interrupt time to land in the middle of the downloads.
    Process p({ToolPath("flash"), "--plan", dir + "/plan.csv", "--json", "--interval-timing"});
    // Both lines well into their downloads.
    for (int i = 0; i < 600; ++i) {
        const auto events = JsonLines(p.Out());
        if (Named(events, "progress", 2).size() > 5 && Named(events, "progress", 4).size() > 5)
            break;
        std::this_thread::sleep_for(50ms);
    }
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(60s), 130) << p.Out() << p.Err();
    const std::vector<Json> events = Events(p.Out());
    // A PLC in its download mode cannot obey a restore-speed command: none goes, and nothing
    // claims one was answered.
    for (int line : {2, 4}) {
        EXPECT_FALSE(Named(events, "progress", line).empty()) << line;
        EXPECT_TRUE(Named(events, "restore", line).empty()) << line;
    }
    const auto rows = SummaryByLine(events);
    EXPECT_EQ(rows.at(2).at("result"), "interrupted");
    EXPECT_TRUE(rows.at(2).at("download_mode").get<bool>());
    EXPECT_EQ(rows.at(3).at("result"), "not-run");
    EXPECT_TRUE(Named(events, "start", 3).empty());
    EXPECT_EQ(rows.at(4).at("result"), "interrupted");
    EXPECT_TRUE(events.back().at("interrupted").get<bool>());

    // The PLC never started is untouched and answers at the connect speed.
    const RunResult status =
        RunTool({ToolPath("flash"), "--port", c.Name, "--station", "2", "--status"}, 30s);
    EXPECT_EQ(status.Exit, 0) << status.Out << status.Err;
}

} // namespace
} // namespace orv::test
