#pragma once
// Ports that the Windows tests add to their Wine prefix and take away again: devices of the
// Ports class as a serial driver installs them (instance IDs ROOT\ORVTEST\...), and entries of
// HARDWARE\DEVICEMAP\SERIALCOMM (\Device\OrvTest...).

#include <string>

namespace orv::test {

// A present device of the Ports class whose device key names portName; the description is
// left out when empty.
bool AddTestPort(const std::string& portName, const std::string& description);
// A port in the serial device map only.
bool MapTestPort(const std::string& portName);
// Every port that a test added, whichever run left it.
void RemoveTestPortDevices();
void RemoveTestPortMapEntries();

// For one test: what an interrupted run left goes first, and what the test added goes after.
struct TTestPorts {
    TTestPorts() { RemoveAll(); }
    ~TTestPorts() { RemoveAll(); }
    static void RemoveAll() {
        RemoveTestPortDevices();
        RemoveTestPortMapEntries();
    }
};

} // namespace orv::test
