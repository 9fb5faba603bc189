// Where there is no registry the settings live in one .reg file per user, in the folder the
// XDG base-directory rules give for configuration.
#include "settings/reg_file_store.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace orv {

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    // A service started without HOME still has a home in the password database.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string ConfigFolder() {
    // A relative XDG_CONFIG_HOME is to be ignored, the rules say.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.config";
}

} // namespace

std::unique_ptr<RegStore> MakeUserRegStore() {
    std::string folder = ConfigFolder();
    // With no folder at all the store opens nothing: every load and save returns false.
    if (folder.empty())
        return std::make_unique<RegFileStore>(std::string());
    return std::make_unique<RegFileStore>(folder + "/orv-os-update/registry.reg");
}

} // namespace orv
