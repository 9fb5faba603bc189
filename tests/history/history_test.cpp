// The update history's file as several writers and a reader meet it.

#include "history/history.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace orv {
namespace {

namespace fs = std::filesystem;

std::string Scratch(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("orv-history-" + name);
    fs::remove_all(dir);
    return (dir / "state" / "history.jsonl").string();
}

HistoryEntry Entry(int station, const std::string& result) {
    HistoryEntry e;
    e.Started = "2025-03-04T10:11:12+01:00";
    e.Ended = "2025-03-04T10:11:40+01:00";
    e.Program = "orv-flash 1.61";
    e.Port = "ttyUSB0";
    e.Station = station;
    e.Image = "/srv/os \xe9.os"; // not UTF-8: the line must survive it
    e.ImageSize = 139266;
    e.ImageCrc = 0xBEEF;
    e.Before = HistoryOs{"1.50", "01/2009", "AT29C020"};
    e.Result = result;
    e.Message = "line one\nline two";
    return e;
}

// A writer that died in the middle of its line, and a line of the wrong shape, cost only
// themselves; the folders are made on the first append.
TEST(History, DamagedLinesAreSkippedAndNeverSwallowTheNext) {
    const std::string path = Scratch("damaged");
    EXPECT_TRUE(ReadHistory(path).Missing);
    ASSERT_EQ(AppendHistory(path, Entry(1, "ok")), "");
    std::ofstream(path, std::ios::app)
        << "{\"started\":\"2025\",\"station\":\"7\",\"result\":\"ok\"}\n"
        << "{\"started\":\"2025-03-04T11:00:00Z\",\"sta";
    ASSERT_EQ(AppendHistory(path, Entry(2, "failed")), "");

    const HistoryReading r = ReadHistory(path);
    EXPECT_EQ(r.Error, "");
    EXPECT_EQ(r.Damaged, (std::vector<int>{2, 3}));
    ASSERT_EQ(r.Entries.size(), 2u);
    EXPECT_EQ(r.Entries[0].Station, 1);
    EXPECT_EQ(r.Entries[1].Result, "failed");
    EXPECT_EQ(r.Entries[1].Message, "line one\nline two");
    EXPECT_EQ(r.Entries[1].ImageCrc, 0xBEEF);
    ASSERT_TRUE(r.Entries[1].Before);
    EXPECT_EQ(r.Entries[1].Before->Version, "1.50");
    EXPECT_FALSE(r.Entries[1].After);
}

// Writers with their own handles, as two programs have: every line whole, none lost.
TEST(History, WritersAtOnceNeverInterleave) {
    const std::string path = Scratch("concurrent");
    constexpr int kWriters = 4, kLines = 100;
    std::vector<std::thread> writers;
    writers.reserve(kWriters);
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            HistoryEntry e = Entry(w, "ok");
            e.Message.assign(3000, static_cast<char>('a' + w)); // larger than one pipe buffer
            for (int i = 0; i < kLines; ++i)
                EXPECT_EQ(AppendHistory(path, e), "");
        });
    for (std::thread& t : writers)
        t.join();
    const HistoryReading r = ReadHistory(path);
    EXPECT_TRUE(r.Damaged.empty());
    ASSERT_EQ(r.Entries.size(), static_cast<size_t>(kWriters * kLines));
    for (const HistoryEntry& e : r.Entries)
        EXPECT_EQ(e.Message, std::string(3000, static_cast<char>('a' + e.Station)));
}

TEST(History, TimesCarryTheirOffsetAndCompareAsInstants) {
    EXPECT_EQ(HistoryTimeSeconds("2025-03-04T10:11:12+01:00"),
              HistoryTimeSeconds("2025-03-04T09:11:12Z"));
    EXPECT_EQ(HistoryTimeSeconds("1970-01-02 00:00-00:30"), 86400 + 1800);
    for (const char* bad : {"2025-13-01", "2025-03-04T25:00", "2025-03-04x", "04/03/2025", ""})
        EXPECT_FALSE(HistoryTimeSeconds(bad)) << bad;
    const auto now = std::chrono::system_clock::now();
    const std::string text = HistoryTimeText(now);
    EXPECT_EQ(text.size(), 25u) << text;
    EXPECT_EQ(HistoryTimeSeconds(text),
              std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
    // A date alone is its local midnight, as is the same date and time without an offset.
    EXPECT_EQ(HistoryTimeSeconds("2025-03-04"), HistoryTimeSeconds("2025-03-04T00:00:00"));
}

} // namespace
} // namespace orv
