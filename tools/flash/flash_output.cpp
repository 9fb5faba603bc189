#include "flash_output.h"

#include "common/hex.h"
#include "flash_console.h"
#include "json_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orv {

std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7F) ? c : '?';
    }
    return out;
}

JsonEvent::JsonEvent(std::string_view event) {
    Str("event", event);
}

JsonEvent& JsonEvent::Str(std::string_view key, std::string_view value) {
    object_[std::string(key)] = JsonText(value);
    return *this;
}

JsonEvent& JsonEvent::Int(std::string_view key, long long value) {
    object_[std::string(key)] = value;
    return *this;
}

JsonEvent& JsonEvent::Num(std::string_view key, double value) {
    if (!std::isfinite(value))
        return Null(key);
    object_[std::string(key)] = std::round(value * 1000.0) / 1000.0;
    return *this;
}

JsonEvent& JsonEvent::Bool(std::string_view key, bool value) {
    object_[std::string(key)] = value;
    return *this;
}

JsonEvent& JsonEvent::Null(std::string_view key) {
    object_[std::string(key)] = nullptr;
    return *this;
}

JsonEvent& JsonEvent::Json(std::string_view key, nlohmann::ordered_json value) {
    object_[std::string(key)] = std::move(value);
    return *this;
}

JsonEvent& JsonEvent::StrList(std::string_view key, const std::vector<std::string>& values) {
    auto list = nlohmann::ordered_json::array();
    for (const std::string& v : values)
        list.push_back(JsonText(v));
    object_[std::string(key)] = std::move(list);
    return *this;
}

std::string JsonEvent::Text() const {
    return object_.dump(-1, ' ', /*ensure_ascii=*/true);
}

FlashOutput::FlashOutput(bool json, bool trace, std::chrono::steady_clock::time_point start)
    : json_(json), trace_(trace), tty_(TConsole::OutputIsTerminal()), start_(start) {}

void FlashOutput::MarkPlanLine(int line) {
    planLine_ = line;
    label_ = "[line " + std::to_string(line) + "] ";
    tty_ = false;
}

double FlashOutput::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void FlashOutput::ClearProgress() {
    if (progressShown_) {
        std::fputs("\r\x1b[K", stdout);
        progressShown_ = false;
    }
}

void FlashOutput::DrawProgress() {
    std::fputs("\r\x1b[K", stdout);
    std::fputs(progressText_.c_str(), stdout);
    std::fflush(stdout);
    progressShown_ = true;
}

void FlashOutput::Line(const std::string& text) {
    if (json_)
        return;
    const bool redraw = progressShown_;
    ClearProgress();
    std::fputs((label_ + text).c_str(), stdout);
    std::fputc('\n', stdout);
    if (redraw)
        DrawProgress();
    std::fflush(stdout);
}

void FlashOutput::ErrorLine(const std::string& text) {
    const bool redraw = progressShown_;
    if (redraw) {
        ClearProgress();
        std::fflush(stdout);
    }
    std::fputs((label_ + text).c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    if (redraw)
        DrawProgress();
}

void FlashOutput::Event(JsonEvent event) {
    if (planLine_ > 0)
        event.Int("plan_line", planLine_);
    event.Num("t", Seconds());
    if (!json_)
        return;
    std::fputs(event.Text().c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void FlashOutput::Progress(const ProgressInfo& info) {
    if (json_) {
        JsonEvent e("progress");
        e.Int("page", info.Page)
            .Int("percent", info.Percent)
            .Int("frames_done", info.FramesDone)
            .Int("frames_total", info.FramesTotal)
            .Int("bytes", static_cast<long long>(info.FramesDone) * 256)
            .Num("bytes_per_second", info.BytesPerSecond)
            .Bool("blind", info.Blind);
        if (info.SecondsLeft >= 0)
            e.Num("seconds_left", info.SecondsLeft);
        else
            e.Null("seconds_left");
        Event(std::move(e));
        return;
    }
    char left[32] = "--:--";
    if (info.SecondsLeft >= 0) {
        const long s = std::lround(info.SecondsLeft);
        std::snprintf(left, sizeof left, "%ld:%02ld", s / 60, s % 60);
    }
    char buf[160];
    std::snprintf(buf, sizeof buf, "%3d%%  %spage %d  (%d of %d)  %.1f kB/s  %s left", info.Percent,
                  info.Blind ? "blind " : "", info.Page,
                  std::min(info.FramesDone + 1, info.FramesTotal), info.FramesTotal,
                  info.BytesPerSecond / 1000.0, left);
    progressText_ = buf;
    if (tty_) {
        DrawProgress();
        return;
    }
    // Without a terminal a line per page would flood a log: one line each tenth.
    const int decile = info.Percent / 10;
    if (decile != lastPlainDecile_) {
        lastPlainDecile_ = decile;
        std::fputs((label_ + buf).c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

void FlashOutput::EndProgress() {
    if (json_ || !progressShown_)
        return;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    progressShown_ = false;
}

void FlashOutput::Trace(char dir, const std::string& line, const uint8_t* data, size_t count) {
    if (!trace_)
        return;
    char head[64];
    std::snprintf(head, sizeof head, "[%10.6f] %c %s %zu:", Seconds(), dir, line.c_str(), count);
    std::string text = head;
    if (count > 0)
        text += ' ' + HexDump(data, count);
    ErrorLine(text);
}

void FlashOutput::TraceNote(const std::string& text) {
    if (!trace_)
        return;
    char head[32];
    std::snprintf(head, sizeof head, "[%10.6f] = ", Seconds());
    ErrorLine(head + text);
}

} // namespace orv
