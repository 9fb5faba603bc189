#pragma once
// Where StartComm looks for a port on Windows, and the words it uses when it cannot open one.

#include <string>
#include <vector>

namespace orv {

// The names StartComm tries for a port, in order: a bare name (COM3, COM12) as the device
// \\.\NAME, which every COM number needs from COM10 on, and then \\?\NAME; a path as it stands,
// then with \\?\ in front. Empty for an empty name.
std::vector<std::string> PortPathCandidates(const std::string& name);

// The second line of "Error opening serial port": the name tried, the system's reason and
// what to do about it. error is a Windows error code (GetLastError).
std::string OpenFailureDetail(const std::string& path, unsigned long error);

// The system's own text for a Windows error code, without its line break, and the number.
std::string SystemMessage(unsigned long error);

} // namespace orv
