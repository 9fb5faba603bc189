// The --plan file on arbitrary text: no crash, and a plan read without a refusal holds only
// what the runs can take, each image asked about once. No image file is read: those named
// "ok..." pass.
#include "flash_plan_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = "plans/plan.csv";
    orv::FlashArgs defaults;
    defaults.StopPlc = orv::StopPlcAnswer::Yes;
    std::map<std::string, int> asked;
    const auto check = [&](const std::string& image) -> std::string {
        ++asked[image];
        return image.compare(image.find_last_of("/\\") + 1, 2, "ok") == 0 ? "" : "refused";
    };
    const orv::PlanReading plan = orv::ParsePlan(
        std::string(reinterpret_cast<const char*>(data), size), path, defaults, check);

    for (const auto& [image, times] : asked)
        if (times != 1)
            std::abort();
    for (const std::string& e : plan.Errors)
        if (e.rfind(path + ":", 0) != 0)
            std::abort();
    if (plan.Errors.empty() && plan.Entries.empty())
        std::abort(); // accepted, yet nothing to run
    std::set<std::pair<std::string, int>> taken;
    int lastLine = 0;
    for (const orv::PlanEntry& e : plan.Entries) {
        const orv::FlashArgs& a = e.Args;
        if (e.Line <= lastLine || a.Mode != orv::FlashArgs::TMode::Update || !a.Plan.empty() ||
            a.Port.empty() || a.CommName.empty() || a.Station < 0 || a.Station > 255 ||
            a.StopPlc == orv::StopPlcAnswer::Ask || !asked.count(a.Image) ||
            !taken.emplace(e.PortKey, a.Station).second)
            std::abort();
        lastLine = e.Line;
    }
    return 0;
}
