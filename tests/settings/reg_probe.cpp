// A second program for the settings tests: what it saves or loads goes through its own TReg
// and the user store the environment names, as the real program's would.
//   reg_probe load <key path> <name>            prints the value; exit 1 when missing
//   reg_probe save <key path> <name> <value>
//   reg_probe save-many <key path> <prefix> <count>
#include "settings/reg.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    std::string cmd = argv[1];
    orv::TReg reg(argv[2]);
    try {
        if (cmd == "load") {
            std::string value;
            if (!reg.LoadStringA("", argv[3], value))
                return 1;
            std::printf("%s", value.c_str());
            return 0;
        }
        if (cmd == "save" && argc == 5)
            return reg.SaveString("", argv[3], argv[4]) ? 0 : 1;
        if (cmd == "save-many" && argc == 5) {
            int count = std::atoi(argv[4]);
            for (int i = 0; i < count; ++i) {
                std::string name = std::string(argv[3]) + std::to_string(i);
                if (!reg.SaveString("", name, "value " + std::to_string(i)))
                    return 1;
            }
            return 0;
        }
    } catch (const orv::ERegError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
    return 2;
}
