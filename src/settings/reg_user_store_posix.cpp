// Where there is no registry the settings live in one .reg file per user, in the folder the
// XDG base-directory rules give for configuration.
#include "common/home_folder.h"
#include "settings/reg_file_store.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace orv {

namespace {

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
