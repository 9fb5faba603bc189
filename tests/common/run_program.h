#pragma once
// Runs a program to its end and collects what it printed, for tests that drive the tools (or,
// on Windows, Wine's own `reg`) as a person would. How a process is started is the platform's:
// run_program_posix.cpp, run_program_win32.cpp.
#include <string>
#include <vector>

namespace orv::test {

struct ProgramRun {
    int Exit = -1;      // -1 when it could not be started or did not end normally
    std::string Output; // standard output and error together
};

// `program` is a path, or on Windows a name found through the search path.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args);

} // namespace orv::test
