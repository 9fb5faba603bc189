#include "run_program.h"

#include <array>
#include <cstdio>
#include <sys/wait.h>

namespace orv::test {

namespace {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
    std::string command = Quote(program);
    for (const auto& a : args)
        command += " " + Quote(a);
    command += " 2>&1";
    ProgramRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.Output.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace orv::test
