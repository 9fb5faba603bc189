// orv-os-update: replaces the operating system of an Orv-series PLC over a serial line.

#include "app/application.h"

#include <exception>

int main(int argc, char** argv) {
    orv::TOrvQApplication qapp(argc, argv);
    try {
        orv::TOrvApplication app;
        return app.Run();
    } catch (...) {
        // An error that escapes the start-up is shown like any other.
        orv::ShowApplicationError(nullptr, std::current_exception());
        return 1;
    }
}
