#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QtEndian>

// Keeps every test away from the user's real settings store and data folder: the store is
// pointed at a folder inside the build tree (ctest also sets XDG_CONFIG_HOME there) and
// emptied, and recovery files and kept cuts go to an emptied folder inside it.
inline void isolateSettings()
{
    QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/peltrix-test-settings");
    QDir().mkpath(folder);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    QCoreApplication::setOrganizationName(QStringLiteral("Trevalon software"));
    QCoreApplication::setApplicationName(QStringLiteral("Peltrix Pro 2.8"));
    QSettings().clear();
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder + QStringLiteral("/data")));
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

// A BMP header for a w x h picture and no pixels: enough for a reader to learn its size.
inline QByteArray bmpHeader(int w, int h)
{
    QByteArray bytes(54, '\0');
    const auto put32 = [&](int at, quint32 value) { qToLittleEndian(value, bytes.data() + at); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, quint32(w));
    put32(22, quint32(h));
    qToLittleEndian(quint16(1), bytes.data() + 26);
    qToLittleEndian(quint16(24), bytes.data() + 28);
    return bytes;
}
