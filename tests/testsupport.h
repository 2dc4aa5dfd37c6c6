#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

// Keeps every test away from the user's real settings store: the store is pointed at a
// folder inside the build tree (ctest also sets XDG_CONFIG_HOME there) and emptied.
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
}
