#include "history/history.h"

#include "common/crc16.h"
#include "common/platform_io.h"
#include "common/version.h"

#include <cstdio>
#include <filesystem>

namespace orv {

namespace {

using Json = nlohmann::ordered_json;

// Days from 1970-01-01 to y-m-d of the proleptic Gregorian calendar (H. Hinnant's algorithm):
// the local time's offset and a stated offset both come out exact, with no time-zone database.
long long DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

long long SecondsOf(const std::tm& tm) {
    return DaysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                         static_cast<unsigned>(tm.tm_mday)) *
               86400 +
           tm.tm_hour * 3600LL + tm.tm_min * 60LL + tm.tm_sec;
}

// Reads `digits` decimal digits at text[at]; advances at.
bool Number(std::string_view text, size_t& at, size_t digits, int& value) {
    if (text.size() < at + digits)
        return false;
    value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    at += digits;
    return true;
}

bool Char(std::string_view text, size_t& at, char c) {
    if (at >= text.size() || text[at] != c)
        return false;
    ++at;
    return true;
}

Json OsJson(const std::optional<HistoryOs>& os) {
    if (!os)
        return nullptr;
    return {{"version", os->Version}, {"date", os->Date}, {"flash", os->Flash}};
}

// Reads key into out when it is there: false when it is there with another type.
template <typename T>
bool Field(const nlohmann::json& object, const char* key, T& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    try {
        out = it->get<T>();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

bool OsField(const nlohmann::json& object, const char* key, std::optional<HistoryOs>& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    if (!it->is_object())
        return false;
    HistoryOs os;
    if (!Field(*it, "version", os.Version) || !Field(*it, "date", os.Date) ||
        !Field(*it, "flash", os.Flash))
        return false;
    out = os;
    return true;
}

} // namespace

std::string HistoryProgram(const std::string& name) {
    return name + " " + kVersion;
}

std::string HistoryTimeText(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    if (!history_file::LocalTime(secs, local))
        return "1970-01-01T00:00:00Z";
    const long long offset = SecondsOf(local) - static_cast<long long>(secs);
    const int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60 % (24LL * 60));
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::optional<long long> HistoryTimeSeconds(std::string_view text) {
    std::tm tm{};
    size_t at = 0;
    int y = 0, mo = 0, d = 0;
    if (!Number(text, at, 4, y) || !Char(text, at, '-') || !Number(text, at, 2, mo) ||
        !Char(text, at, '-') || !Number(text, at, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31)
        return std::nullopt;
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    if (at < text.size()) {
        if (text[at] != 'T' && text[at] != ' ')
            return std::nullopt;
        ++at;
        if (!Number(text, at, 2, tm.tm_hour) || !Char(text, at, ':') ||
            !Number(text, at, 2, tm.tm_min) || tm.tm_hour > 23 || tm.tm_min > 59)
            return std::nullopt;
        if (Char(text, at, ':') && (!Number(text, at, 2, tm.tm_sec) || tm.tm_sec > 60))
            return std::nullopt;
    }
    if (at == text.size()) {
        tm.tm_isdst = -1;
        const std::time_t local = std::mktime(&tm);
        if (local == static_cast<std::time_t>(-1))
            return std::nullopt;
        return static_cast<long long>(local);
    }
    long long offset = 0;
    if (text[at] == 'Z') {
        ++at;
    } else if (text[at] == '+' || text[at] == '-') {
        const int sign = text[at++] == '-' ? -1 : 1;
        int oh = 0, om = 0;
        if (!Number(text, at, 2, oh) || !Char(text, at, ':') || !Number(text, at, 2, om) ||
            oh > 23 || om > 59)
            return std::nullopt;
        offset = sign * (oh * 3600LL + om * 60LL);
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;
    return SecondsOf(tm) - offset;
}

bool ImageFileFacts(const std::string& path, long long& size, int& crc) {
    std::FILE* file = OpenFile(path, "rb");
    if (!file)
        return false;
    uint16_t sum = kCrcInit;
    long long total = 0;
    uint8_t buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) {
        sum = CRC16(buf, static_cast<uint32_t>(n), sum);
        total += static_cast<long long>(n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return false;
    size = total;
    crc = sum;
    return true;
}

Json HistoryJson(const HistoryEntry& e) {
    Json j;
    j["started"] = e.Started;
    j["ended"] = e.Ended;
    j["program"] = e.Program;
    j["host"] = e.Host;
    j["user"] = e.User;
    j["port"] = e.Port;
    j["station"] = e.Station;
    j["image"] = e.Image;
    j["image_size"] = e.ImageSize < 0 ? Json(nullptr) : Json(e.ImageSize);
    j["image_crc"] = e.ImageCrc < 0 ? Json(nullptr) : Json(e.ImageCrc);
    j["image_os"] = OsJson(e.ImageOs);
    j["os_before"] = OsJson(e.Before);
    j["os_after"] = OsJson(e.After);
    j["result"] = e.Result;
    j["message"] = e.Message;
    return j;
}

std::string HistoryLine(const HistoryEntry& entry) {
    // A PLC's text or a file name that is not UTF-8 must not cost the line.
    return HistoryJson(entry).dump(-1, ' ', /*ensure_ascii=*/true,
                                   nlohmann::json::error_handler_t::replace);
}

std::optional<HistoryEntry> ParseHistoryLine(std::string_view line) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!j.is_object() || !j.contains("started") || !j["started"].is_string() ||
        !j.contains("result") || !j["result"].is_string() || !j.contains("station") ||
        !j["station"].is_number_integer())
        return std::nullopt;
    HistoryEntry e;
    long long station = j["station"].get<long long>();
    if (station < 0 || station > 255)
        return std::nullopt;
    e.Station = static_cast<int>(station);
    if (!Field(j, "started", e.Started) || !Field(j, "ended", e.Ended) ||
        !Field(j, "program", e.Program) || !Field(j, "host", e.Host) || !Field(j, "user", e.User) ||
        !Field(j, "port", e.Port) || !Field(j, "image", e.Image) ||
        !Field(j, "image_size", e.ImageSize) || !Field(j, "image_crc", e.ImageCrc) ||
        !OsField(j, "image_os", e.ImageOs) || !OsField(j, "os_before", e.Before) ||
        !OsField(j, "os_after", e.After) || !Field(j, "result", e.Result) ||
        !Field(j, "message", e.Message))
        return std::nullopt;
    return e;
}

std::string AppendHistory(const std::string& path, const HistoryEntry& entry) {
    std::error_code error;
    std::filesystem::create_directories(PathOf(path).parent_path(), error);
    if (error)
        return "cannot make the folder of " + path + ": " + error.message();
    return history_file::AppendLocked(path, HistoryLine(entry) + "\n");
}

HistoryReading ReadHistory(const std::string& path) {
    HistoryReading reading;
    std::string text;
    reading.Error = history_file::ReadLocked(path, text, reading.Missing);
    if (!reading.Error.empty() || reading.Missing)
        return reading;
    size_t start = 0;
    for (int n = 1; start < text.size(); ++n) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            if (auto entry = ParseHistoryLine(line))
                reading.Entries.push_back(std::move(*entry));
            else
                reading.Damaged.push_back(n);
        }
        start = end + 1;
    }
    return reading;
}

} // namespace orv
