#pragma once
// What orv-flash shows: plain lines and a progress line for people, one JSON object per event
// for production-line tooling, and the frame trace on stderr.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Bytes from the PLC or a file may be anything: shown as printable ASCII only.
std::string PrintableText(std::string_view text);

// One JSON object, built field by field in the order the README lists them; text as JsonText
// takes it, so whatever a PLC or a file name holds comes out as valid JSON.
class JsonEvent {
public:
    explicit JsonEvent(std::string_view event);
    JsonEvent& Str(std::string_view key, std::string_view value);
    JsonEvent& Int(std::string_view key, long long value);
    JsonEvent& Num(std::string_view key, double value); // to the millisecond; null if not finite
    JsonEvent& Bool(std::string_view key, bool value);
    JsonEvent& Null(std::string_view key);
    JsonEvent& StrList(std::string_view key, const std::vector<std::string>& values);
    JsonEvent& Json(std::string_view key, nlohmann::ordered_json value);
    std::string Text() const;
    const nlohmann::ordered_json& Object() const { return object_; }

private:
    nlohmann::ordered_json object_;
};

struct ProgressInfo {
    int Page = 0;       // the page just sent
    int Percent = 0;    // the gauge
    int FramesDone = 0; // frames acknowledged so far
    int FramesTotal = 0;
    double BytesPerSecond = 0;
    double SecondsLeft = -1; // unknown until a rate is known
    bool Blind = false;
};

class FlashOutput {
public:
    // start: when "t" is 0; the runs of a plan share the plan's.
    FlashOutput(bool json, bool trace,
                std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now());

    // One run of a plan: its lines start with "[line N] ", its events carry plan_line N, and
    // its progress is never redrawn in place (other runs write between).
    void MarkPlanLine(int line);

    bool Json() const { return json_; }
    double Seconds() const; // since start

    // A line for people on stdout (nothing in JSON mode).
    void Line(const std::string& text);
    // A line on stderr, in every mode.
    void ErrorLine(const std::string& text);
    // An event on stdout, in JSON mode only; the time stamp "t" is added.
    void Event(JsonEvent event);

    void Progress(const ProgressInfo& info);
    void EndProgress(); // the progress line becomes an ordinary finished line

    // --trace: dir '>' sent, '<' received; line is the line settings ("115200 8E1").
    void Trace(char dir, const std::string& line, const uint8_t* data, size_t count);
    void TraceNote(const std::string& text);

private:
    void ClearProgress();
    void DrawProgress();

    bool json_;
    bool trace_;
    bool tty_;
    bool progressShown_ = false;
    int planLine_ = 0;
    std::string label_;
    std::string progressText_;
    int lastPlainDecile_ = -1;
    std::chrono::steady_clock::time_point start_;
};

} // namespace orv
