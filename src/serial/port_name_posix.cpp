#include "serial/port_name_posix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orv {

namespace {

std::string EnvOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string UserName() {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    const uid_t uid = geteuid();
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return std::to_string(uid);
}

std::string GroupOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return {};
    std::vector<char> buf(16384);
    group gr{};
    group* found = nullptr;
    if (getgrgid_r(st.st_gid, &gr, buf.data(), buf.size(), &found) == 0 && found && found->gr_name)
        return found->gr_name;
    return std::to_string(st.st_gid);
}

} // namespace

std::string VirtualPortFolder() {
    std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
    if (runtime.empty()) {
        std::string tmp = EnvOrEmpty("TMPDIR");
        while (tmp.size() > 1 && tmp.back() == '/')
            tmp.pop_back();
        if (tmp.empty())
            tmp = "/tmp";
        runtime = tmp + "/runtime-" + UserName();
    }
    while (runtime.size() > 1 && runtime.back() == '/')
        runtime.pop_back();
    return runtime + "/orv-ports/";
}

std::vector<std::string> PortPathCandidates(const std::string& name) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return {name};
    return {"/dev/" + name, VirtualPortFolder() + name};
}

std::string OpenFailureDetail(const std::string& path, int error) {
    std::string reason = path + ": " + std::strerror(error == EWOULDBLOCK ? EBUSY : error) + ". ";
    switch (error) {
    case EACCES:
    case EPERM: {
        std::string group = GroupOf(path);
        if (group.empty())
            group = "dialout";
        return reason + "This user may not use the device: add the user to the group '" + group +
               "' that owns it (for example: sudo usermod -aG " + group +
               " $USER), then log out and in again.";
    }
    case EBUSY:
    case EWOULDBLOCK:
        return reason + "Another program holds the port (a terminal program, ModemManager or "
                        "brltty, for example): close it and try again.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return reason + "There is no such device: check that the adapter is plugged in, or pick "
                        "the port again, it may be listed under another name.";
    default:
        return reason + "Check the port name and that the device is working.";
    }
}

} // namespace orv
