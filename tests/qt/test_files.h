#pragma once
// Files the window tests make: a first-run settings store, and plain OS images.

#include "test_images.h"

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
    WritePlainImageFile(path.toStdString(), size, rightId);
    EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
    return path;
}

} // namespace orv::test
