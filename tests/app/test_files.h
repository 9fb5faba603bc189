#pragma once
// Files the window tests make: a first-run settings store, and plain OS images.

#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <cstddef>
#include <gtest/gtest.h>

namespace orv::test {

// The program's settings file.
inline QString SettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/orv-os-update/registry.reg");
}

// Every test that needs it starts as a first run: no settings from an earlier test.
inline void ForgetSettings() {
    QFile::remove(SettingsFile());
}

// A plain image of size bytes: version 1.61, 03/2010, flash type 2, first page 128; with
// rightId false the identification bytes are wrong.
inline QString WritePlainImage(const QString& path, size_t size = 0x22000, bool rightId = true) {
    QByteArray bytes(static_cast<qsizetype>(size), '\x5A');
    if (size >= 26) {
        bytes[8] = rightId ? '\x40' : '\x41';
        bytes[9] = '\xA6';
        bytes[12] = '\x61';
        bytes[13] = '\x01';
        bytes[14] = '\x03';
        bytes[15] = '\x10';
        bytes[23] = '\x80';
        bytes[25] = '\x02';
    }
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

} // namespace orv::test
