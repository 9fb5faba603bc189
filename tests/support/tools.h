#pragma once
// The built tools as processes (POSIX): orv-flash, orv-plcsim and orv-osimage, for the
// end-to-end tests of orv-flash, the simulator and the windows, the benches and the fault
// campaign.

#include "child_process.h"

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace orv::test {

// The build folder: $ORV_BINARY_DIR, else the one this program was built in.
std::string BinaryDir();
// The source tree: $ORV_SOURCE_DIR, else the one this program was built from.
std::string SourceDir();
std::string ToolPath(const std::string& tool); // "flash" gives .../tools/flash/orv-flash

// orv-osimage make OUT --size BYTES --first-page N --version V --date D --flash-type F --seed S
struct ImageRecipe {
    uint32_t Size = 0x22000;
    int FirstPage = 128;
    std::string Version = "1.61";
    std::string Date = "03/2010";
    int FlashType = 2;
    uint64_t Seed = 1;
};
// Makes the image at path; throws std::runtime_error with the tool's words when it fails.
void MakeImage(const std::string& path, const ImageRecipe& recipe);

// An orv-plcsim on its own pseudo-terminal, its --log in a scratch file unless args name one;
// stopped with SIGTERM when it goes out of scope. Throws when it does not start.
class PlcSim {
public:
    explicit PlcSim(const std::vector<std::string>& args);
    ~PlcSim();
    PlcSim(const PlcSim&) = delete;
    PlcSim& operator=(const PlcSim&) = delete;
    std::string Path; // the pseudo-terminal
    std::string Name; // its entry in the virtual-port folder
    // What its log holds so far: a JSON object a line.
    std::string Log() const;
    // Stops it (SIGTERM) and returns its exit code.
    std::optional<int> Stop();
    Process& Proc() { return proc_; }

private:
    std::string logPath_;
    Process proc_;
};

// orv-flash --json's standard output, one parsed value per line (discarded where a line is not
// JSON).
std::vector<nlohmann::json> JsonLines(const std::string& out);
// The events of that name, of the plan's line when planLine is given.
std::vector<nlohmann::json> Named(const std::vector<nlohmann::json>& events,
                                  const std::string& name, int planLine = 0);

// A fresh folder under the build tree for one test's files.
std::string ScratchDir(const std::string& name);

std::vector<uint8_t> ReadFile(const std::string& path);

// What a PLC's flash must hold after the image went over: page 0 as sent (the image CRC
// patched in at 26 and 27), pages 1..FirstPage-1 erased (0xFF), pages FirstPage..PageCount-1
// as in the image. Computed here from the file, not with the program's image code. Empty when
// it does; otherwise says where it first differs.
std::string CompareFlash(const std::string& flashPath, const std::string& imagePath);

} // namespace orv::test
