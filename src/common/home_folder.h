#pragma once
// The user's home folder: where the file dialog starts on a first run, and below which the
// settings and the update history live (home_folder_posix.cpp, home_folder_win32.cpp).

#include <string>

namespace orv {

// UTF-8; empty when the system knows none.
std::string HomeFolder();

} // namespace orv
