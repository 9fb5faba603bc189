#include "tools.h"

#include "common/crc16.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace orv::test {

std::string BinaryDir() {
    if (const char* dir = std::getenv("ORV_BINARY_DIR"); dir && *dir)
        return dir;
    return ORV_DEFAULT_BINARY_DIR;
}

std::string SourceDir() {
    if (const char* dir = std::getenv("ORV_SOURCE_DIR"); dir && *dir)
        return dir;
    return ORV_DEFAULT_SOURCE_DIR;
}

std::string ToolPath(const std::string& tool) {
    return BinaryDir() + "/tools/" + tool + "/orv-" + tool;
}

void MakeImage(const std::string& path, const ImageRecipe& recipe) {
    const RunResult r = RunTool(
        {ToolPath("osimage"), "make", path, "--size", std::to_string(recipe.Size), "--first-page",
         std::to_string(recipe.FirstPage), "--version", recipe.Version, "--date", recipe.Date,
         "--flash-type", std::to_string(recipe.FlashType), "--seed", std::to_string(recipe.Seed)},
        std::chrono::seconds(30));
    if (r.Exit != 0)
        throw std::runtime_error("orv-osimage make failed: " + r.Err);
}

namespace {

// A log file of its own for each simulator of this process; an earlier run's is gone.
std::string LogPathFor(const std::vector<std::string>& args) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--log")
            return {};
    static std::atomic<int> serial{0};
    const std::filesystem::path dir =
        std::filesystem::path(BinaryDir()) / "test-scratch" / "plcsim";
    std::filesystem::create_directories(dir);
    const std::filesystem::path log =
        dir / ("sim-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".log");
    std::filesystem::remove(log);
    return log.string();
}

std::vector<std::string> SimArgv(const std::vector<std::string>& args, const std::string& log) {
    std::vector<std::string> argv{ToolPath("plcsim")};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!log.empty())
        argv.insert(argv.end(), {"--log", log});
    return argv;
}

} // namespace

PlcSim::PlcSim(const std::vector<std::string>& args)
    : logPath_(LogPathFor(args)), proc_(SimArgv(args, logPath_)) {
    const auto line = proc_.FirstLine(std::chrono::seconds(10));
    const std::string prefix = "listening on ";
    const auto as = line ? line->find(" as ") : std::string::npos;
    if (!line || line->rfind(prefix, 0) != 0 || as == std::string::npos)
        throw std::runtime_error("orv-plcsim did not start: " + line.value_or("") + proc_.Err());
    Path = line->substr(prefix.size(), as - prefix.size());
    Name = line->substr(as + 4);
}

PlcSim::~PlcSim() {
    Stop();
    if (!logPath_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(logPath_, ignored);
    }
}

std::string PlcSim::Log() const {
    const std::vector<uint8_t> bytes = ReadFile(logPath_);
    return {bytes.begin(), bytes.end()};
}

std::optional<int> PlcSim::Stop() {
    proc_.Signal(SIGTERM);
    return proc_.Wait(std::chrono::seconds(10));
}

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        values.push_back(nlohmann::json::parse(line, nullptr, false));
    return values;
}

std::vector<nlohmann::json> Named(const std::vector<nlohmann::json>& events,
                                  const std::string& name, int planLine) {
    std::vector<nlohmann::json> out;
    for (const nlohmann::json& e : events)
        if (e.is_object() && e.value("event", "") == name &&
            (planLine == 0 || e.value("plan_line", 0) == planLine))
            out.push_back(e);
    return out;
}

std::string ScratchDir(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(BinaryDir()) / "test-scratch" / "flash" /
                         (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string CompareFlash(const std::string& flashPath, const std::string& imagePath) {
    const std::vector<uint8_t> flash = ReadFile(flashPath);
    std::vector<uint8_t> image = ReadFile(imagePath);
    if (image.size() < 0x22000)
        return "the image " + imagePath + " is too small";
    const size_t pages = image.size() / 256;
    const size_t firstPage = image[23];
    // The header page goes over with the image CRC, high byte first, over 0x8000 to the end.
    const uint16_t crc =
        CRC16(image.data() + 0x8000, static_cast<uint32_t>(image.size() - 0x8000), 0xFFFF);
    image[26] = static_cast<uint8_t>(crc >> 8);
    image[27] = static_cast<uint8_t>(crc & 0xFF);
    if (flash.size() < pages * 256)
        return "the flash holds " + std::to_string(flash.size()) + " bytes, the image's pages " +
               std::to_string(pages * 256);
    auto pageDiffers = [&](size_t p) {
        return !std::equal(image.begin() + static_cast<long>(p * 256),
                           image.begin() + static_cast<long>(p * 256 + 256),
                           flash.begin() + static_cast<long>(p * 256));
    };
    if (pageDiffers(0))
        return "page 0 differs";
    // Pages 1 to FirstPage - 1 never go over: the PLC keeps them erased.
    for (size_t i = 256; i < firstPage * 256 && i < flash.size(); ++i)
        if (flash[i] != 0xFF)
            return "page " + std::to_string(i / 256) + " was written but is never sent";
    for (size_t p = firstPage; p < pages; ++p)
        if (pageDiffers(p))
            return "page " + std::to_string(p) + " differs";
    return {};
}

} // namespace orv::test
