#include "event_log.h"

#include "common/hex.h"
#include "json_text.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace orv::plcsim {

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    return HexDump(bytes.data(), bytes.size());
}

EventLog::~EventLog() {
    if (file_)
        std::fclose(file_);
}

bool EventLog::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

void EventLog::Write(const char* dir, const LineFormat& plc, const LineFormat* peer,
                     const std::vector<uint8_t>* bytes, const std::string& what,
                     const nlohmann::ordered_json& extra) {
    if (!file_)
        return;
    const auto wall = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(wall);
    const int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count() %
        1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03dZ", ms);
    nlohmann::ordered_json line;
    line["time"] = std::string(stamp) + millis;
    line["t"] = std::round((Now() - start_) * 1000.0) / 1000.0;
    line["dir"] = dir;
    line["speed"] = plc.speed;
    line["format"] = plc.Text();
    if (peer)
        line["peer_speed"] = peer->speed;
    if (bytes)
        line["hex"] = Hex(*bytes);
    for (const auto& [key, value] : extra.items())
        line[key] = value;
    line["what"] = JsonText(what);
    const std::string text = line.dump(-1, ' ', /*ensure_ascii=*/true);
    std::fprintf(file_, "%s\n", text.c_str());
    std::fflush(file_);
}

} // namespace orv::plcsim
