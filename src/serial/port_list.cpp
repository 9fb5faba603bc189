#include "serial/port_list.h"

#include <QDir>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace orv {

namespace {

// A terminal that is there now: a pseudo-terminal's node goes when its master closes; other
// character devices (/dev/null, say) are not serial ports.
bool IsLiveTerminal(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
    if (maj >= 136 && maj <= 143) // pseudo-terminal slaves
        return true;
    char sys[64];
    std::snprintf(sys, sizeof sys, "/sys/dev/char/%u:%u/subsystem", maj, min);
    char resolved[PATH_MAX];
    if (!realpath(sys, resolved))
        return false;
    const std::string subsystem = resolved;
    return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
}

} // namespace

std::string QtVirtualPortFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString() +
           "/orv-ports/";
}

std::vector<std::string> ListPortEntries() {
    std::vector<std::string> entries;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string name = info.portName().toStdString();
        const std::string description = info.description().toStdString();
        entries.push_back(description.empty() ? name : name + ": (" + description + ")");
    }

    const QDir folder(QString::fromStdString(QtVirtualPortFolder()));
    QStringList links = folder.entryList(
        QDir::System | QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    std::vector<std::string> virtualPorts;
    for (const QString& link : links) {
        const QString path = folder.filePath(link);
        // The port name ends at the first ':' of an entry, so such a name could not be opened.
        if (link.contains(QLatin1Char(':')) || !QFileInfo(path).isSymLink())
            continue;
        if (IsLiveTerminal(path.toStdString()))
            virtualPorts.push_back(link.toStdString() + ": (Virtual port)");
    }
    entries.insert(entries.end(), virtualPorts.begin(), virtualPorts.end());
    return entries;
}

} // namespace orv
