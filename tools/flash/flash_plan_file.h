#pragma once
// The plan file of orv-flash --plan: read and checked whole, line by line, before any PLC is
// touched.

#include "flash_args.h"

#include <functional>
#include <string>
#include <vector>

namespace orv {

struct PlanEntry {
    int Line = 0; // in the file, from 1
    FlashArgs Args;
    std::string PortKey; // the same device however the line names it
};

struct PlanReading {
    std::vector<PlanEntry> Entries;
    std::vector<std::string> Errors; // "plan.csv:4: ...", in the file's order
};

// Why the image at path cannot be used; empty when it can.
using PlanImageCheck = std::function<std::string(const std::string& path)>;

// Reads and checks the plan at path. defaults: the command line, whose line settings, speed
// and stop-plc answer fill the columns a line leaves empty, and whose other settings (trace,
// JSON, ...) hold for every PLC. Images are read and checked here (a relative path counts from
// the plan's folder), each file once.
PlanReading ReadPlan(const std::string& path, const FlashArgs& defaults);

// ReadPlan on the text of the file at path, with checkImage asked once for each image.
PlanReading ParsePlan(std::string text, const std::string& path, const FlashArgs& defaults,
                      const PlanImageCheck& checkImage);

} // namespace orv
