// serial_test_ports add NAME [DESCRIPTION] | remove: adds a COM port to the Ports device class
// of the Wine prefix, as a serial driver would, or removes every port a test added. For the
// end-to-end test of orv-flash.exe (flash_wine_test), which runs Linux side.

#include "ports_class_win32.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using namespace orv::test;
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "add" && (argc == 3 || argc == 4))
        return AddTestPort(argv[2], argc == 4 ? argv[3] : "") ? 0 : 1;
    if (command == "remove" && argc == 2) {
        TTestPorts::RemoveAll();
        return 0;
    }
    std::fprintf(stderr, "usage: serial_test_ports add NAME [DESCRIPTION] | remove\n");
    return 2;
}
