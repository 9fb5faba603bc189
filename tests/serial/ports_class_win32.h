#pragma once
// Ports that a test adds to its Wine prefix, and takes away again: devices of the Ports class
// as a serial driver installs them, and entries of HARDWARE\DEVICEMAP\SERIALCOMM. What an
// interrupted run left behind goes first.

#include <string>
#include <vector>

namespace orv::test {

class TTestPorts {
public:
    TTestPorts();
    ~TTestPorts();
    TTestPorts(const TTestPorts&) = delete;
    TTestPorts& operator=(const TTestPorts&) = delete;

    // A present device of the Ports class whose device key names portName; the description
    // is left out when empty.
    void Add(const std::string& portName, const std::string& description);
    // A port in the serial device map only.
    void MapOnly(const std::string& portName);
    void RemoveDevices();
    void RemoveMapEntries();

private:
    int Count = 0;
};

} // namespace orv::test
