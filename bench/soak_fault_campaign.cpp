// Thirty updates through orv-plcsim with seeded random faults: dropped and garbled replies,
// refused pages, late replies (under the 800 ms time-out) and one line that vanishes; and the
// lines of real cabinets: a converter that echoes, acknowledgements of three bytes whose last
// comes late, a neighbour station whose late reply lands in the run, and a run interrupted in
// its download and then run again. Each update must either complete with the PLC's flash
// identical to the image, or fail with a message; never report success over a wrong flash, touch
// another station, claim a restore a PLC in download mode cannot have obeyed, crash or hang.

#include "tools.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

using namespace orv::test;
using namespace std::chrono_literals;

constexpr int kUpdates = 30;
constexpr int kParallel = 8;
// Far beyond the longest legitimate run (every page late, some retried).
constexpr auto kHangLimit = 420s;

// What the line is like beyond its faults.
enum class Line { Plain, Echo, AckSplit, Neighbour, Interrupted };

struct Plan {
    int Index = 0;
    ImageRecipe Image;
    std::string Fault;
    Line Kind = Line::Plain;
    uint64_t Seed = 0;
};

enum class Verdict {
    Identical,
    FailedWithMessage,
    FailedSilently,
    WrongFlash,
    WrongPlc,
    FalseRestore,
    Crash,
    Hang
};

std::string FormatP(double p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", p);
    return buf;
}

std::vector<Plan> MakePlans(uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<Plan> plans;
    const int vanishing = pick(0, kUpdates - 1);
    for (int i = 0; i < kUpdates; ++i) {
        Plan p;
        p.Index = i;
        p.Seed = rng();
        p.Image.Size = 0x22000 + static_cast<uint32_t>(pick(0, 8)) * 0x100;
        // The PLC checks the image CRC over 0x8000 on, page 128 on: a later first page would leave
        // part of it unsent.
        p.Image.FirstPage = pick(96, 128);
        p.Image.Seed = rng();
        std::string f = "drop:" + FormatP(uniform(0.0, 0.04));
        if (i == vanishing) {
            f += ",vanish-after:" + std::to_string(pick(1, 40));
        } else {
            switch (i % 3) {
            case 0:
                // Late, but inside the 800 ms time-out with the 100 ms read interval on top; one
                // run at 450 ms.
                f += ",delay:" + std::to_string(i == 3 ? 450 : pick(50, 250));
                break;
            case 1:
                f += ",garble:" + FormatP(uniform(0.0, 0.004));
                break;
            default:
                f += ",nak:" + FormatP(uniform(0.0, 0.003)) +
                     ",delay:" + std::to_string(pick(0, 200));
                break;
            }
        }
        p.Fault = f;
        if (i != vanishing)
            p.Kind = static_cast<Line>(i % 5);
        plans.push_back(p);
    }
    return plans;
}

std::string DoneMessage(const std::string& out) {
    std::string message;
    for (const nlohmann::json& e : JsonLines(out))
        if (e.is_object() && e.value("event", "") == "done")
            message = e.value("message", "");
    return message;
}

// A restore said to be answered in a run that ended with its PLC in download mode.
bool ClaimsFalseRestore(const std::string& out) {
    bool answered = false, downloadMode = false;
    for (const nlohmann::json& e : JsonLines(out)) {
        if (!e.is_object())
            continue;
        if (e.value("event", "") == "restore")
            answered = e.value("answered", false);
        if (e.value("event", "") == "done")
            downloadMode = e.value("download_mode", false);
    }
    return answered && downloadMode;
}

Verdict RunOne(const Plan& plan, const std::string& dir, std::string& note) {
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(plan.Index);
    const std::string image = dir + "/os" + std::to_string(plan.Index) + ".bin";
    const std::string flashOut = dir + "/flash" + std::to_string(plan.Index) + ".bin";
    MakeImage(image, plan.Image);
    const std::string fault = plan.Fault + (plan.Kind == Line::AckSplit ? ",ack-split:20" : "");
    std::vector<std::string> simArgs{
        "--name", "soak" + tag, "--no-pace", "--fault", fault, "--seed", std::to_string(plan.Seed)};
    if (plan.Kind == Line::Echo)
        simArgs.emplace_back("--echo");
    // Station 1 is updated; station 2 shares the line and answers 700 ms late.
    const bool shared = plan.Kind == Line::Neighbour;
    for (const std::string& a :
         shared ? std::vector<std::string>{"--stations", "1", "--stations", "2:delay=700"}
                : std::vector<std::string>{})
        simArgs.push_back(a);
    simArgs.insert(simArgs.end(), {"--flash-out", flashOut});
    PlcSim sim(simArgs);
    const std::string plcFlash = shared ? flashOut + ".1" : flashOut;
    const std::vector<std::string> update{ToolPath("flash"), "--port", sim.Name, "--image", image,
                                          "--stop-plc",      "yes",    "--json"};
    if (shared) // its reply to this comes while station 1 is being updated
        RunTool({ToolPath("flash"), "--port", sim.Name, "--scan", "--stations", "2",
                 "--scan-timeout", "20"},
                30s);
    if (plan.Kind == Line::Interrupted) {
        Process first(update);
        if (first.WaitForOutput("\"page\":200", 60s))
            first.Signal(SIGINT);
        const auto code = first.Wait(60s);
        if (!code)
            return Verdict::Hang;
        if (ClaimsFalseRestore(first.Out())) {
            note = "the interrupted run claims a restore";
            return Verdict::FalseRestore;
        }
    }
    Process flash(update);
    const auto code = flash.Wait(kHangLimit);
    if (!code) {
        flash.Signal(SIGKILL);
        flash.Wait(10s);
        return Verdict::Hang;
    }
    const std::string message = DoneMessage(flash.Out());
    const bool reportedOk = flash.Out().find("\"DU Reroro ... OK!!\"") != std::string::npos;
    note = "exit " + std::to_string(*code) + (message.empty() ? "" : ": " + message);
    if (flash.Signalled() || (*code != 0 && *code != 1 && *code != 4))
        return Verdict::Crash;
    if (shared && std::filesystem::exists(flashOut + ".2"))
        return Verdict::WrongPlc;
    if (ClaimsFalseRestore(flash.Out()))
        return Verdict::FalseRestore;
    const std::string flashCheck = CompareFlash(plcFlash, image);
    if (*code == 0 || reportedOk) {
        if (flashCheck.empty())
            return *code == 0 ? Verdict::Identical : Verdict::FailedWithMessage;
        note += " (" + flashCheck + ")";
        return Verdict::WrongFlash;
    }
    return message.empty() ? Verdict::FailedSilently : Verdict::FailedWithMessage;
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20100301;
    const std::string dir = ScratchDir("soak-fault-campaign");
    const std::vector<Plan> plans = MakePlans(seed);
    std::vector<Verdict> verdicts(plans.size(), Verdict::Hang);
    std::mutex printLock;
    std::atomic<size_t> next{0};
    const auto started = std::chrono::steady_clock::now();

    std::vector<std::thread> workers;
    workers.reserve(kParallel);
    for (int w = 0; w < kParallel; ++w)
        workers.emplace_back([&] {
            for (size_t i = next++; i < plans.size(); i = next++) {
                std::string note;
                try {
                    verdicts[i] = RunOne(plans[i], dir, note);
                } catch (const std::exception& e) {
                    verdicts[i] = Verdict::Crash;
                    note = e.what();
                }
                static const char* const kNames[] = {"identical",   "failed",    "failed silently",
                                                     "WRONG FLASH", "WRONG PLC", "FALSE RESTORE",
                                                     "CRASH",       "HANG"};
                static const char* const kLines[] = {"", "echo", "ack-split", "neighbour",
                                                     "interrupted"};
                std::lock_guard<std::mutex> hold(printLock);
                std::printf("  #%02zu %-26s %-11s first page %3d  %-15s %s\n", i,
                            plans[i].Fault.c_str(), kLines[static_cast<int>(plans[i].Kind)],
                            plans[i].Image.FirstPage, kNames[static_cast<int>(verdicts[i])],
                            note.c_str());
                std::fflush(stdout);
            }
        });
    for (auto& w : workers)
        w.join();

    int count[8] = {};
    for (const Verdict v : verdicts)
        ++count[static_cast<int>(v)];
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 60;
    std::printf("seed %llu, %.1f min\n", static_cast<unsigned long long>(seed), minutes);
    if (count[2])
        std::printf("%d failed without a message\n", count[2]);
    std::printf("%d updates: %d completed with the flash identical to the image, %d failed with "
                "a message, %d reported success with a wrong flash, %d touched another station, "
                "%d claimed a restore in download mode, %d crashes, %d hangs\n",
                kUpdates, count[0], count[1], count[3], count[4], count[5], count[6], count[7]);
    return count[2] + count[3] + count[4] + count[5] + count[6] + count[7] == 0 ? 0 : 1;
}
