// Thirty updates through orv-plcsim with seeded random faults: dropped and garbled replies,
// refused pages, late replies (under the 800 ms time-out) and one line that vanishes. Each
// update must either complete with the PLC's flash identical to the image, or fail with a
// message; never report success over a wrong flash, crash or hang.

#include "tools.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

struct Plan {
    int Index = 0;
    ImageRecipe Image;
    std::string Fault;
    uint64_t Seed = 0;
};

enum class Verdict { Identical, FailedWithMessage, FailedSilently, WrongFlash, Crash, Hang };

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

Verdict RunOne(const Plan& plan, const std::string& dir, std::string& note) {
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(plan.Index);
    const std::string image = dir + "/os" + std::to_string(plan.Index) + ".bin";
    const std::string flashOut = dir + "/flash" + std::to_string(plan.Index) + ".bin";
    MakeImage(image, plan.Image);
    PlcSim sim({"--name", "soak" + tag, "--no-pace", "--flash-out", flashOut, "--fault", plan.Fault,
                "--seed", std::to_string(plan.Seed)});
    Process flash(
        {ToolPath("flash"), "--port", sim.Name, "--image", image, "--stop-plc", "yes", "--json"});
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
    const std::string flashCheck = CompareFlash(flashOut, image);
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
                static const char* const kNames[] = {"identical",   "failed", "failed silently",
                                                     "WRONG FLASH", "CRASH",  "HANG"};
                std::lock_guard<std::mutex> hold(printLock);
                std::printf("  #%02zu %-26s first page %3d  %-15s %s\n", i, plans[i].Fault.c_str(),
                            plans[i].Image.FirstPage, kNames[static_cast<int>(verdicts[i])],
                            note.c_str());
                std::fflush(stdout);
            }
        });
    for (auto& w : workers)
        w.join();

    int count[6] = {};
    for (const Verdict v : verdicts)
        ++count[static_cast<int>(v)];
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 60;
    std::printf("seed %llu, %.1f min\n", static_cast<unsigned long long>(seed), minutes);
    if (count[2])
        std::printf("%d failed without a message\n", count[2]);
    std::printf("%d updates: %d completed with the flash identical to the image, %d failed with "
                "a message, %d reported success with a wrong flash, %d crashes, %d hangs\n",
                kUpdates, count[0], count[1], count[3], count[4], count[5]);
    return count[2] + count[3] + count[4] + count[5] == 0 ? 0 : 1;
}
