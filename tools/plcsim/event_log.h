#pragma once
// The simulator's --log: one JSON object a line for every frame heard and sent, each event and
// each injected fault.

#include "line_model.h"

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orv::plcsim {

// Seconds on a steady clock: every deadline of the simulator.
double Now();

std::string Hex(const std::vector<uint8_t>& bytes);

class EventLog {
public:
    EventLog() = default;
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    ~EventLog();
    // Appends to path; until then every Write is a no-op.
    bool Open(const std::string& path);
    // One line: time, direction, the PLC's line, the program's speed when known, the bytes,
    // any extra fields, and what the PLC made of them.
    void Write(const char* dir, const LineFormat& plc, const LineFormat* peer,
               const std::vector<uint8_t>* bytes, const std::string& what,
               const nlohmann::ordered_json& extra = {});

private:
    std::FILE* file_ = nullptr;
    double start_ = Now();
};

} // namespace orv::plcsim
