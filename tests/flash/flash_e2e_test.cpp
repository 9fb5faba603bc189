// orv-flash against orv-plcsim, both as the processes a technician would run.

#include "man_page.h"
#include "pty.h"
#include "tools.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace orv::test {
namespace {

using namespace std::chrono_literals;

std::string gDir;
std::string gImage; // OS 1.61 of 03/2010, flash AT29C020, 544 pages from page 128 on

class FlashE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gDir = ScratchDir("e2e");
        gImage = gDir + "/os161.bin";
        MakeImage(gImage, ImageRecipe{});
    }
};

// A run that stops moving on (a page sent again and again, answered each time) fails within
// 20 s, not at its time-out: no run is silent that long (the verification's 10 s is the most).
RunResult Flash(std::vector<std::string> args, std::chrono::milliseconds timeout = 60s,
                const std::string& stdinPath = {}) {
    args.insert(args.begin(), ToolPath("flash"));
    return RunTool(args, timeout, stdinPath, 20s);
}

using Json = nlohmann::json;

// Every stdout line must be one JSON object with an event name and a time stamp, and a script
// written from orv-flash(1) must know every event, field and type.
std::vector<Json> Events(const std::string& out) {
    std::vector<Json> events = JsonLines(out);
    for (const Json& o : events) {
        EXPECT_TRUE(o.is_object()) << o;
        EXPECT_TRUE(o.is_object() && o.contains("event") && o["event"].is_string()) << o;
        EXPECT_TRUE(o.is_object() && o.contains("t") && o["t"].is_number()) << o;
    }
    EXPECT_EQ(UndocumentedInEvents(events), "") << "orv-flash(1), JSON EVENTS";
    return events;
}

// The last event; a null one, which fails every look into it, when there is none.
const Json& Last(const std::vector<Json>& events) {
    static const Json kNone;
    if (events.empty())
        ADD_FAILURE() << "no events";
    return events.empty() ? kNone : events.back();
}

bool HasPanel(const std::vector<Json>& events, const char* text) {
    for (const Json& e : Named(events, "panel"))
        if (e.value("text", "") == text)
            return true;
    return false;
}

struct Traced {
    char Dir = 0; // '>' sent, '<' received
    size_t Count = 0;
    std::string Line;
};

// The frames --trace wrote, in order.
std::vector<Traced> TracedFrames(const std::string& err) {
    std::vector<Traced> frames;
    std::istringstream lines(err);
    std::string line;
    while (std::getline(lines, line)) {
        Traced t;
        unsigned baud = 0;
        char format[8] = {};
        if (std::sscanf(line.c_str(), "[%*f] %c %u %7s %zu:", &t.Dir, &baud, format, &t.Count) ==
                4 &&
            (t.Dir == '>' || t.Dir == '<')) {
            t.Line = line;
            frames.push_back(t);
        }
    }
    return frames;
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A running PLC at 9600 7E1, stopped on --stop-plc yes, updated at 115200, each reply taken the
// moment it is whole, on a line that echoes what is sent (a 2-wire converter): every echo is
// left out, the stop reply that is a copy of its request is still the reply.
TEST_F(FlashE2E, FullUpdateOfARunningPlcWritesTheImageVerifiesAndReportsJsonEvents) {
    const std::string flashOut = gDir + "/full.flash";
    PlcSim sim({"--name", "flashfull", "--speed", "9600", "--format", "7E1", "--no-pace", "--echo",
                "--running", "--version", "1.50", "--date", "01/2009", "--flash-out", flashOut});
    const RunResult r =
        Flash({"--port", sim.Name, "--baud", "9600", "--parity", "even", "--databits", "7",
               "--image", gImage, "--stop-plc", "yes", "--json", "--trace"});
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    EXPECT_EQ(CompareFlash(flashOut, gImage), "");

    // Every frame sent, then its reply as one block that is exactly the whole reply: two bytes
    // for a page, a station reply of 9 bytes, or the status reply of 66. A machine too busy to
    // keep the 800 ms time-out sends a frame again, and may then rightly fall back to interval
    // timing for the late answer; only a run without that shows the rule at work throughout.
    const auto frames = TracedFrames(r.Err);
    bool sentAgain = false;
    size_t pageFrames = 0;
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        if (frames[i].Dir != '>')
            continue;
        if (frames[i + 1].Dir == '>') {
            sentAgain = true;
            continue;
        }
        if (frames[i].Count == 266) {
            ++pageFrames;
            EXPECT_TRUE(sentAgain || frames[i + 1].Count == 2) << frames[i + 1].Line;
        } else {
            EXPECT_TRUE(sentAgain || frames[i + 1].Count == 9 || frames[i + 1].Count == 66)
                << frames[i + 1].Line;
        }
    }
    EXPECT_EQ(pageFrames, 417u);

    const auto events = Events(r.Out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().at("event"), "start");
    EXPECT_EQ(events.front().at("timing"), "fast");
    EXPECT_EQ(Named(events, "echo").size(), 1u);
    EXPECT_TRUE(sentAgain || Named(events, "fallback").empty()) << r.Err;
    EXPECT_EQ(events.back().at("event"), "done");
    EXPECT_EQ(events.back().at("exit").get<int>(), 0);
    double t = 0;
    for (const Json& e : events) {
        EXPECT_GE(e.at("t").get<double>(), t);
        t = e.at("t").get<double>();
    }

    const auto image = Named(events, "image");
    ASSERT_EQ(image.size(), 1u);
    EXPECT_EQ(image[0].at("pages").get<int>(), 544);
    EXPECT_EQ(image[0].at("first_page").get<int>(), 128);

    const auto question = Named(events, "question");
    ASSERT_EQ(question.size(), 1u);
    EXPECT_TRUE(question[0].at("answer").get<bool>());
    EXPECT_EQ(question[0].at("by"), "option");

    const auto status = Named(events, "plc_status");
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].at("phase"), "status");
    EXPECT_EQ(status[0].at("version"), "1.50");
    EXPECT_EQ(status[1].at("phase"), "verify");
    EXPECT_EQ(status[1].at("version"), "1.61");
    EXPECT_EQ(status[1].at("date"), "03/2010");
    EXPECT_EQ(status[1].at("flash"), "AT29C020");

    EXPECT_TRUE(HasPanel(events, "Change Download Speed ..."));
    EXPECT_TRUE(HasPanel(events, "Change Mode ..."));
    EXPECT_TRUE(HasPanel(events, "DU Reroro ... OK!!"));
    EXPECT_TRUE(HasPanel(events, "Restore Speed ..."));

    // Page 0, then 128 to 543 (a page sent again after a time-out shows once more), then the
    // completion; the gauge never goes back.
    const auto progress = Named(events, "progress");
    ASSERT_GE(progress.size(), 418u);
    std::vector<int> pages;
    int percent = 0;
    for (size_t i = 0; i + 1 < progress.size(); ++i) {
        const int page = progress[i].at("page").get<int>();
        if (pages.empty() || pages.back() != page)
            pages.push_back(page);
        EXPECT_GE(progress[i].at("percent").get<int>(), percent);
        percent = progress[i].at("percent").get<int>();
        EXPECT_LT(percent, 100);
        EXPECT_FALSE(progress[i].at("blind").get<bool>());
    }
    std::vector<int> expected{0};
    for (int p = 128; p < 544; ++p)
        expected.push_back(p);
    EXPECT_EQ(pages, expected);
    EXPECT_EQ(progress[progress.size() - 2].at("percent").get<int>(), 99);
    EXPECT_EQ(progress.back().at("percent").get<int>(), 100);
    EXPECT_EQ(progress.back().at("frames_done").get<int>(), 417);
    EXPECT_EQ(progress.back().at("frames_total").get<int>(), 417);

    const auto restore = Named(events, "restore");
    ASSERT_EQ(restore.size(), 1u);
    EXPECT_TRUE(restore[0].at("answered").get<bool>());
    const auto verify = Named(events, "verify");
    ASSERT_EQ(verify.size(), 1u);
    EXPECT_TRUE(verify[0].at("ok").get<bool>());
    EXPECT_TRUE(verify[0].at("differences").empty());

    // In interval timing the echo and the reply come as one block: the echo is left out too.
    const RunResult again =
        Flash({"--port", sim.Name, "--databits", "7", "--status", "--interval-timing", "--json"});
    ASSERT_EQ(again.Exit, 0) << Describe(again);
    EXPECT_EQ(Named(Events(again.Out), "plc_status").at(0).at("version"), "1.61");
}

// A PLC that sends three bytes more than each reply: the first of them, after the status reply,
// turn the run to interval timing, which takes each reply with its tail from then on.
TEST_F(FlashE2E, APlcThatSendsMoreThanItsRepliesTurnsTheRunToIntervalTiming) {
    const std::string flashOut = gDir + "/tail.flash";
    PlcSim sim({"--name", "flashtail", "--no-pace", "--reply-tail", "3", "--flash-out", flashOut});
    const RunResult r = Flash({"--port", sim.Name, "--image", gImage, "--json", "--trace"}, 120s);
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    EXPECT_EQ(CompareFlash(flashOut, gImage), "");

    const auto events = Events(r.Out);
    const auto fallback = Named(events, "fallback");
    ASSERT_EQ(fallback.size(), 1u) << r.Out;
    EXPECT_EQ(fallback[0].at("timing"), "interval");
    EXPECT_EQ(fallback[0].at("dropped").get<int>(), 3);
    EXPECT_EQ(CountOf(r.Err, "interval timing from now on"), 1u) << r.Err;
    EXPECT_NE(r.Err.find("] = interval timing from now on: 3 bytes came where no reply could "
                         "(15 15 15), dropped"),
              std::string::npos)
        << r.Err;

    const auto frames = TracedFrames(r.Err);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[1].Count, 66u) << "the status reply, whole, before the tail";
    size_t pages = 0;
    for (size_t i = 1; i < frames.size(); ++i)
        if (frames[i - 1].Dir == '>' && frames[i - 1].Count == 266 && frames[i].Dir == '<') {
            ++pages;
            EXPECT_EQ(frames[i].Count, 5u) << frames[i].Line;
        }
    EXPECT_EQ(pages, 417u);
}

// What the technician learns of a run that went wrong: a refusal cut as a whole reply only
// turns the run to interval timing and goes again, a second one is sent again too (the default
// --nak-retries 2), and when the last acknowledgement is lost the run fails, but the PLC answers
// at the download speed, gets its speed back and then reports the image's OS.
TEST_F(FlashE2E, RefusedPagesGoAgainAndALostLastAcknowledgementIsReportedWithTheNewOs) {
    const std::string flashOut = gDir + "/lostack.flash";
    PlcSim sim({"--name", "flashlost", "--no-pace", "--fault", "nak:2x,nak-from:530,drop-ack:543",
                "--flash-out", flashOut});
    const RunResult r = Flash({"--port", sim.Name, "--image", gImage, "--json"}, 90s);
    EXPECT_EQ(r.Exit, 1) << Describe(r);
    EXPECT_EQ(CompareFlash(flashOut, gImage), "");

    const auto events = Events(r.Out);
    std::vector<std::string> bars;
    for (const Json& e : Named(events, "statusbar"))
        bars.push_back(e.at("text"));
    EXPECT_EQ(Named(events, "fallback").size(), 1u) << r.Out;
    EXPECT_NE(std::find(bars.begin(), bars.end(), "Prog NACK .. Try #1"), bars.end()) << r.Out;
    EXPECT_NE(std::find(bars.begin(), bars.end(), "Prog .. Try #5"), bars.end()) << r.Out;
    EXPECT_EQ(Last(Named(events, "plc_status")).at("phase"), "verify");
    ASSERT_EQ(Named(events, "restore").size(), 1u);
    EXPECT_TRUE(Named(events, "restore")[0].at("answered").get<bool>());
    ASSERT_FALSE(events.empty());
    const Json& done = events.back();
    EXPECT_EQ(done.at("result"), "failed");
    EXPECT_FALSE(done.at("download_mode").get<bool>());
    EXPECT_EQ(done.at("message"),
              "Comm. No response abandon update (no answer to page 543); afterwards the PLC "
              "reports the image's OS 1.61 of 03/2010 (flash AT29C020)");
    EXPECT_TRUE(done.at("image_os").get<bool>());
    EXPECT_EQ(done.at("plc_version"), "1.61");
    EXPECT_EQ(done.at("plc_date"), "03/2010");
    EXPECT_EQ(done.at("plc_flash"), "AT29C020");
}

// A PLC starting its new OS is silent after the restore for a while: the verification asks
// again until it answers, and fails a PLC that never does only once its window is over.
TEST_F(FlashE2E, TheVerificationWaitsForAPlcStartingItsNewOsToTheEndOfItsWindow) {
    PlcSim slow({"--name", "flashboot", "--no-pace", "--boot-ms", "4000"});
    const RunResult r = Flash({"--port", slow.Name, "--image", gImage, "--json"});
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    const auto verify = Named(Events(r.Out), "verify");
    ASSERT_EQ(verify.size(), 1u) << r.Out;
    EXPECT_TRUE(verify[0].at("ok").get<bool>());

    PlcSim dead({"--name", "flashdead", "--no-pace", "--boot-ms", "600000"});
    const RunResult d = Flash({"--port", dead.Name, "--image", gImage, "--json"});
    EXPECT_EQ(d.Exit, 4) << Describe(d);
    const auto events = Events(d.Out);
    const auto restore = Named(events, "restore");
    ASSERT_EQ(restore.size(), 1u) << d.Out;
    // The message says how long it waited: the whole window and the query that was under way.
    const std::string message = Last(events).value("message", "");
    const std::string lead = "verification failed: Get PLC Status Fail !! (no status reply in ";
    ASSERT_EQ(message.rfind(lead, 0), 0u) << message;
    EXPECT_GE(std::atof(message.c_str() + lead.size()), 10.0) << message;
    EXPECT_GE(Last(events).at("t").get<double>() - restore[0].at("t").get<double>(), 10.0);
}

TEST_F(FlashE2E, StatusPrintsWhatThePlcReportsAndFailsWithoutAnAnswer) {
    PlcSim sim({"--name", "flashstat", "--no-pace", "--station", "10", "--version", "1.23",
                "--date", "07/2015", "--flash-type", "3", "--register-code", "2"});
    // The pseudo-terminal's path, as a technician may give a device path.
    const RunResult r = Flash({"--port", sim.Path, "--station", "10", "--status"});
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    for (const char* line : {"PLC Status", "Version:       1.23", "Released Date: 07/2015",
                             "Flash Type:    MA", "Station:       10"})
        EXPECT_NE(r.Out.find(line), std::string::npos) << line << "\n" << r.Out;

    const RunResult list = Flash({"--list"});
    EXPECT_EQ(list.Exit, 0) << Describe(list);
    EXPECT_NE(list.Out.find("flashstat: (Virtual port)\n"), std::string::npos) << list.Out;

    // Station 1 is not there: four requests, then the window's message. The port as the list
    // shows it.
    const RunResult none =
        Flash({"--port", sim.Name + ": (Virtual port)", "--station", "1", "--status"});
    EXPECT_EQ(none.Exit, 1) << Describe(none);
    EXPECT_NE(none.Out.find("Get PLC Status .... try #4"), std::string::npos) << none.Out;
    EXPECT_NE(none.Err.find("Get PLC Status Fail !!"), std::string::npos) << none.Err;
}

TEST_F(FlashE2E, ARunningPlcLeftRunningGetsItsSpeedBackAndNoPage) {
    const std::string flashOut = gDir + "/left.flash";
    PlcSim sim({"--name", "flashleft", "--no-pace", "--running", "--flash-out", flashOut});
    const RunResult r =
        Flash({"--port", sim.Name, "--image", gImage, "--stop-plc", "no", "--json"});
    ASSERT_EQ(r.Exit, 1) << Describe(r);
    const auto events = Events(r.Out);
    const auto question = Named(events, "question");
    ASSERT_EQ(question.size(), 1u);
    EXPECT_FALSE(question[0].at("answer").get<bool>());
    EXPECT_TRUE(Named(events, "progress").empty());
    EXPECT_FALSE(HasPanel(events, "DU Reroro ... OK!!"));
    const auto restore = Named(events, "restore");
    ASSERT_EQ(restore.size(), 1u);
    EXPECT_TRUE(restore[0].at("answered").get<bool>());
    EXPECT_NE(Last(events).value("message", "").find("not stopped"), std::string::npos);
    EXPECT_NE(
        Last(events)
            .value("message", "")
            .find("afterwards the PLC reports OS 1.00 of 03/2003 (flash W29C020), not the image's"),
        std::string::npos)
        << r.Out;
    EXPECT_FALSE(Last(events).at("image_os").get<bool>());
    EXPECT_FALSE(std::filesystem::exists(flashOut));

    // Back at the connect speed, the PLC answers a status query; asked without a terminal,
    // the question is answered No.
    const RunResult status = Flash({"--port", sim.Name, "--status"});
    EXPECT_EQ(status.Exit, 0) << Describe(status);
    const RunResult ask = Flash({"--port", sim.Name, "--image", gImage});
    EXPECT_EQ(ask.Exit, 1) << Describe(ask);
    EXPECT_NE(ask.Out.find("Are you sure to stop the PLC ? No (no terminal to ask)"),
              std::string::npos)
        << ask.Out;
    EXPECT_FALSE(std::filesystem::exists(flashOut));
}

// A dry run says what an update would do and changes nothing; after the update, --skip-current
// leaves the PLC alone; --history lists both.
TEST_F(FlashE2E, ADryRunChangesNothingAndSkipCurrentLeavesAnUpdatedPlcAlone) {
    ::setenv("XDG_STATE_HOME", (gDir + "/skip-state").c_str(), 1);
    PlcSim sim({"--name", "flashskip", "--no-pace", "--running", "--version", "1.50", "--date",
                "01/2009"});
    const RunResult dry = Flash({"--port", sim.Name, "--image", gImage, "--dry-run"});
    EXPECT_EQ(dry.Exit, 0) << Describe(dry);
    EXPECT_NE(dry.Out.find("Dry run: update: 1.50 of 01/2009 -> 1.61 of 03/2010 at 115200 bit/s; "
                           "running or not is known only when the change-mode command is "
                           "answered: if running, the stop question would be asked"),
              std::string::npos)
        << dry.Out;
    const RunResult first =
        Flash({"--port", sim.Name, "--image", gImage, "--stop-plc", "yes", "--skip-current"});
    EXPECT_EQ(first.Exit, 0) << Describe(first);
    const RunResult again =
        Flash({"--port", sim.Name, "--image", gImage, "--skip-current", "--json"});
    EXPECT_EQ(again.Exit, 0) << Describe(again);
    const auto events = Events(again.Out);
    EXPECT_EQ(events.back().at("result"), "current");
    EXPECT_EQ(Named(events, "current").size(), 1u);
    EXPECT_FALSE(HasPanel(events, "Change Download Speed ..."));

    const RunResult history = Flash({"--history"});
    EXPECT_EQ(history.Exit, 0) << Describe(history);
    EXPECT_EQ(CountOf(history.Out, "flashskip"), 2u) << history.Out;
    EXPECT_NE(history.Out.find("1  ok           1.50 01/2009  1.61 03/2010  os161.bin (139264 "
                               "bytes, CRC "),
              std::string::npos)
        << history.Out;
    EXPECT_NE(history.Out.find("2 of 2 recorded updates shown"), std::string::npos);
    EXPECT_NE(Flash({"--history", "--since", "2999-01-01"}).Out.find("0 of 2"), std::string::npos);
}

TEST_F(FlashE2E, TheStopQuestionOnATerminalAndAStopThePlcRefuses) {
    PlcSim sim({"--name", "flashask", "--no-pace", "--running", "--refuse-stop"});
    TPty terminal;
    Process p({ToolPath("flash"), "--port", sim.Name, "--image", gImage}, terminal.SlavePath);
    ASSERT_TRUE(p.WaitForOutput("Are you sure to stop the PLC ? [y/N] ", 30s)) << p.Out();
    terminal.Write("y\n");
    const auto code = p.Wait(30s);
    EXPECT_EQ(code, 1) << p.Out() << p.Err();
    // Yes sent the stop; the PLC refused it; the halted run was aborted and the speed restored.
    EXPECT_NE(p.Out().find("Stop PLC .."), std::string::npos) << p.Out();
    EXPECT_NE(p.Out().find("PLC Can't Stop"), std::string::npos) << p.Out();
    EXPECT_NE(p.Out().find("Comm. Aborted!!"), std::string::npos) << p.Out();
    EXPECT_NE(p.Out().find("Restore Speed ..."), std::string::npos) << p.Out();
    EXPECT_EQ(p.Out().find("Restore Speed: no reply"), std::string::npos) << p.Out();
    EXPECT_NE(p.Err().find("orv-flash: PLC Can't Stop"), std::string::npos) << p.Err();
}

// A PLC in its download mode obeys no restore-speed command: none is sent, and the run says
// where the PLC was left. Run again, the update finds no status at the connect speed, goes in
// blind, and then restores the speed through the register the PLC names (not register 0).
TEST_F(FlashE2E, AnInterruptInTheDownloadLeavesThePlcAsItIsAndARunAgainRecoversIt) {
    const std::string flashOut = gDir + "/interrupted.flash";
    PlcSim sim(
        {"--name", "flashint", "--no-pace", "--register-code", "2", "--flash-out", flashOut});
    Process p({ToolPath("flash"), "--port", sim.Name, "--image", gImage, "--json"});
    ASSERT_TRUE(p.WaitForOutput("\"page\":130", 30s)) << p.Out();
    p.Signal(SIGINT);
    const auto code = p.Wait(30s);
    EXPECT_EQ(code, 130) << p.Out() << p.Err();
    const auto events = Events(p.Out());
    EXPECT_TRUE(HasPanel(events, "Comm. Aborted!!"));
    EXPECT_FALSE(HasPanel(events, "Restore Speed ..."));
    EXPECT_TRUE(Named(events, "restore").empty());
    EXPECT_FALSE(HasPanel(events, "DU Reroro ... OK!!"));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().value("result", ""), "interrupted");
    EXPECT_TRUE(events.back().value("download_mode", false));
    EXPECT_NE(events.back()
                  .value("message", "")
                  .find("the PLC is in download mode at 115200 bit/s "
                        "with a partial OS; run the update again"),
              std::string::npos)
        << events.back();
    EXPECT_FALSE(std::filesystem::exists(flashOut));

    const RunResult again = Flash({"--port", sim.Name, "--image", gImage, "--json"}, 90s);
    EXPECT_EQ(again.Exit, 0) << Describe(again);
    EXPECT_EQ(CompareFlash(flashOut, gImage), "");
    const auto second = Events(again.Out);
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second.back().value("message", "").find("recovered"), std::string::npos);
    const auto restore = Named(second, "restore");
    ASSERT_EQ(restore.size(), 1u);
    EXPECT_TRUE(restore[0].at("answered").get<bool>());
}

TEST_F(FlashE2E, ALineThatVanishesEndsTheRunWithAClearFailure) {
    PlcSim sim({"--name", "flashgone", "--no-pace", "--fault", "vanish-after:5"});
    const RunResult r = Flash({"--port", sim.Name, "--image", gImage}, 30s);
    EXPECT_EQ(r.Exit, 1) << Describe(r);
    EXPECT_FALSE(r.Signalled);
    EXPECT_NE(r.Err.find("hung up"), std::string::npos) << r.Err;
}

// A paced multi-drop line with gaps in its station numbers, at 9600 baud.
// Station 30 answers 300 ms late, within the status query's wait; a scan told to wait less
// misses it.
TEST_F(FlashE2E, AScanListsTheStationsThatAnswerAndOnlyThose) {
    PlcSim sim({"--name", "flashscan", "--stations", "1,4:version=1.50:date=01/2009", "--stations",
                "9-10:flash-type=3:register-code=2", "--stations", "30:delay=300"});
    const RunResult r = Flash({"--port", sim.Name, "--scan", "--stations", "0-11,30", "--json"});
    ASSERT_EQ(r.Exit, 0) << Describe(r);
    const auto events = Events(r.Out);
    const auto found = Named(events, "scan_station");
    std::vector<int> stations;
    stations.reserve(found.size());
    for (const Json& e : found)
        stations.push_back(e.at("station").get<int>());
    EXPECT_EQ(stations, (std::vector<int>{1, 4, 9, 10, 30}));
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[1].at("version"), "1.50");
    EXPECT_EQ(found[1].at("date"), "01/2009");
    EXPECT_EQ(found[2].at("flash"), "MA");
    EXPECT_EQ(found[2].at("register_code").get<int>(), 2);
    EXPECT_EQ(found[4].at("plc_station").get<int>(), 30);
    EXPECT_EQ(Last(events).at("event"), "done");
    EXPECT_EQ(Last(events).at("asked").get<int>(), 13);
    EXPECT_EQ(Last(events).at("found"), Json({1, 4, 9, 10, 30}));

    // The table for people; a range without any station is exit 5.
    const RunResult table = Flash({"--port", sim.Name, "--scan", "--stations", "3-4"});
    ASSERT_EQ(table.Exit, 0) << Describe(table);
    EXPECT_NE(table.Out.find("      4  1.50        01/2009       W29C020     0\n"),
              std::string::npos)
        << table.Out;
    EXPECT_NE(table.Out.find("1 station answered of 2 asked"), std::string::npos) << table.Out;
    const RunResult none = Flash({"--port", sim.Name, "--scan", "--stations", "2,5-8", "--json"});
    EXPECT_EQ(none.Exit, 5) << Describe(none);
    EXPECT_TRUE(Named(Events(none.Out), "scan_station").empty());
    EXPECT_EQ(Last(Events(none.Out)).at("result"), "no-station");

    const RunResult hasty =
        Flash({"--port", sim.Name, "--scan", "--stations", "30", "--scan-timeout", "50"});
    EXPECT_EQ(hasty.Exit, 5) << Describe(hasty);
}

// A damaged reply is asked again; a station that only ever sends garbage is not a station.
TEST_F(FlashE2E, AScanCountsOnlyReadableReplies) {
    PlcSim once({"--name", "flashscan1", "--no-pace", "--station", "6", "--fault", "garble:1x"});
    const RunResult again = Flash({"--port", once.Name, "--scan", "--stations", "5-7", "--json"});
    ASSERT_EQ(again.Exit, 0) << Describe(again);
    const auto found = Named(Events(again.Out), "scan_station");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].at("version"), "1.00");

    PlcSim noise({"--name", "flashscan2", "--no-pace", "--station", "6", "--fault", "garble:1"});
    const RunResult none = Flash({"--port", noise.Name, "--scan", "--stations", "6", "--json"});
    EXPECT_EQ(none.Exit, 5) << Describe(none);
    EXPECT_TRUE(Named(Events(none.Out), "scan_station").empty());
    EXPECT_EQ(Last(Events(none.Out)).at("unreadable"), Json({6}));
}

TEST_F(FlashE2E, BadArgumentsExit2AndOtherRefusalsSayWhy) {
    const std::vector<std::vector<std::string>> bad{
        {},
        {"--port", "x"},
        {"--image", gImage},
        {"--port", "x", "--image", gImage, "--status"},
        {"--port", "x", "--status", "--baud", "4800"},
        {"--port", "x", "--status", "--speed", "115201"},
        {"--port", "x", "--status", "--parity", "mark"},
        {"--port", "x", "--status", "--databits", "9"},
        {"--port", "x", "--status", "--station", "256"},
        {"--port", "x", "--status", "--station", "1x"},
        {"--port", "x", "--image", gImage, "--stop-plc", "maybe"},
        {"--port", "x", "--image", gImage, "--nak-retries", "10"},
        {"--port", "x", "--status", "--bogus"},
        {"--port", "x", "--image"},
        {"--port", "x", "--status", "--json=1"},
        {"--list", "--port", "x"},
        {"--port", "x", "--status", "--trace=yes"},
        {"--port", "x", "--scan", "--stations", "3-1"},
        {"--port", "x", "--scan", "--stations", "256"},
        {"--port", "x", "--scan", "--station", "3"},
        {"--port", "x", "--status", "--stations", "1-3"},
        {"--scan"},
        {"--plan", gImage, "--port", "x"},
        {"--plan", gImage, "--stop-plc", "ask"},
        {"--history", "--port", "x"},
        {"--history", "--since", "yesterday"},
        {"--port", "x", "--status", "--since", "2025-01-01"},
        {"--port", "x", "--status", "--dry-run"},
        {"--port", "x", "--scan", "--skip-current"},
    };
    for (const auto& args : bad) {
        const RunResult r = Flash(args, 10s);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_EQ(r.Exit, 2) << line << "\n" << Describe(r);
        EXPECT_NE(r.Err.find("usage: orv-flash"), std::string::npos) << line;
    }
    // The help page and orv-flash(1) give the same exit statuses in the same words.
    const RunResult help = Flash({"--help"}, 10s);
    EXPECT_EQ(help.Exit, 0) << Describe(help);
    const auto helpCodes = HelpExitStatuses(help.Out);
    EXPECT_EQ(helpCodes.size(), 7u) << help.Out;
    EXPECT_EQ(helpCodes, ManExitStatuses());

    // A script that asked for events gets the done event all the same.
    const RunResult json = Flash({"--port", "x", "--status", "--baud", "4800", "--json"}, 10s);
    const auto refusal = Events(json.Out);
    ASSERT_EQ(refusal.size(), 1u) << Describe(json);
    EXPECT_EQ(refusal[0].at("exit"), 2);
    EXPECT_EQ(refusal[0].at("result"), "refused");
    EXPECT_NE(refusal[0].at("message").get<std::string>().find("4800"), std::string::npos);

    const RunResult missing = Flash({"--port", "x", "--image", gDir + "/nothere.bin"}, 10s);
    EXPECT_EQ(missing.Exit, 1) << Describe(missing);
    EXPECT_NE(missing.Err.find("OS File << " + gDir + "/nothere.bin >> not Exist !!"),
              std::string::npos)
        << missing.Err;

    // A file name is bytes: one outside printable ASCII comes out escaped, and every event
    // stays valid JSON.
    const std::string odd = gDir + "/os\xe9\x7f\"1.bin";
    const RunResult oddName = Flash({"--port", "x", "--image", odd, "--json"}, 10s);
    EXPECT_EQ(oddName.Exit, 1) << Describe(oddName);
    EXPECT_NE(oddName.Out.find("/os\\u00e9\\u007f\\\"1.bin"), std::string::npos) << oddName.Out;
    const auto oddEvents = Events(oddName.Out);
    ASSERT_EQ(oddEvents.size(), 2u) << oddName.Out;
    EXPECT_EQ(oddEvents.front().at("image"), gDir + "/os\u00e9\x7f\"1.bin");
    EXPECT_EQ(oddEvents.back().at("result"), "failed");

    const RunResult noPort = Flash({"--port", "orv-no-such-port", "--status"}, 10s);
    EXPECT_EQ(noPort.Exit, 3) << Describe(noPort);
    EXPECT_NE(noPort.Err.find("Error opening serial port"), std::string::npos) << noPort.Err;
}

} // namespace
} // namespace orv::test
