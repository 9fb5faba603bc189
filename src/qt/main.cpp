// orv-os-update: replaces the operating system of an Orv-series PLC over a serial line.

#include "common/version.h"
#include "forms/form_kit.h"
#include "qt/application.h"
#include "qt/window_kit.h"

#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orv-os-update %s\n", orv::kVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: orv-os-update [Qt options]\n"
                        "       orv-os-update --version\n"
                        "The desktop program that reads an Orv PLC's status and replaces its OS;\n"
                        "see orv-os-update(1). orv-flash does the same from the command line.\n");
            return 0;
        }
    }
    orv::TOrvQApplication qapp(argc, argv);
    try {
        orv::TOrvApplication app;
        return app.Run();
    } catch (...) {
        // An error that escapes the start-up is shown like any other.
        orv::ShowErrorBox(nullptr, orv::ErrorText(std::current_exception()));
        return 1;
    }
}
