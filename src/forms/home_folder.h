#pragma once
// The operator's home folder, where the file dialog starts on a first run
// (home_folder_posix.cpp, home_folder_win32.cpp).

#include <string>

namespace orv {

// UTF-8; never empty.
std::string HomeFolder();

} // namespace orv
