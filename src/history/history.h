#pragma once
// The update history: one JSON line per update attempt, from orv-flash and from the windows,
// appended to one file per user. Appends are whole lines under an exclusive lock, so two
// programs never interleave; a line that cannot be read is skipped, and the next append starts
// on a line of its own, so a damaged line never takes a good one with it. Where the file lives
// and how it is locked: history_file_posix.cpp / history_file_win32.cpp.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// An OS as a PLC reports it or an image holds it.
struct HistoryOs {
    std::string Version; // "1.61"
    std::string Date;    // "03/2010"
    std::string Flash;   // "AT29C020"
};

struct HistoryEntry {
    std::string Started, Ended; // local time with its offset: "2025-03-04T10:11:12+01:00"
    std::string Program;        // "orv-flash 1.61", "orv-os-update 1.61"
    std::string Host, User;
    std::string Port;
    int Station = 0;
    std::string Image;        // the image file, as the program opened it
    long long ImageSize = -1; // the file's bytes; -1 when it could not be read
    int ImageCrc = -1;        // CRC-16 of the file's bytes, as stored; -1 when unknown
    std::optional<HistoryOs> ImageOs;
    std::optional<HistoryOs> Before, After; // what the PLC reported; nothing when not read
    std::string Result;                     // "ok", "current", "failed", "completed", ...
    std::string Message;
};

// The file: $XDG_STATE_HOME/orv-os-update/history.jsonl (~/.local/state/...), on Windows
// %LOCALAPPDATA%\Orv\OS update\history.jsonl.
std::string DefaultHistoryPath();
// The program field: name and this build's version, "orv-flash 1.61".
std::string HistoryProgram(const std::string& name);
std::string HostName();
std::string UserName();

// t as the history writes it: local time, to the second, with the offset from UTC.
std::string HistoryTimeText(std::chrono::system_clock::time_point t);
// Seconds since 1970 (UTC) of "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS]" (or a blank for the T), with
// "Z" or "+HH:MM" / "-HH:MM" after the time; without either, local time. Nothing for anything
// else.
std::optional<long long> HistoryTimeSeconds(std::string_view text);

// The size and CRC-16 of the file at path; false when it cannot be read.
bool ImageFileFacts(const std::string& path, long long& size, int& crc);

nlohmann::ordered_json HistoryJson(const HistoryEntry& entry);
std::string HistoryLine(const HistoryEntry& entry); // one line of JSON, no line end
// Nothing for a line that is not a history entry (its "started", "result" and "station" are
// needed; a field of the wrong type spoils the line).
std::optional<HistoryEntry> ParseHistoryLine(std::string_view line);

// Appends entry at path (folders made as needed): empty, or why it could not.
std::string AppendHistory(const std::string& path, const HistoryEntry& entry);

struct HistoryReading {
    std::vector<HistoryEntry> Entries; // in the file's order
    std::vector<int> Damaged;          // line numbers (from 1) of lines that were skipped
    bool Missing = false;              // no file yet: nothing was ever recorded
    std::string Error;                 // why the file could not be read; empty when it was
};
HistoryReading ReadHistory(const std::string& path);

// The platform's side.
namespace history_file {
// Appends text (whole lines) under an exclusive lock; when the file does not end with a line
// end, one goes first. Empty, or why it could not.
std::string AppendLocked(const std::string& path, const std::string& text);
// The whole file, read under a shared lock. Empty, or why it could not; missing: no such file.
std::string ReadLocked(const std::string& path, std::string& text, bool& missing);
// localtime for t; false when the platform cannot say.
bool LocalTime(std::time_t t, std::tm& out);
} // namespace history_file

} // namespace orv
