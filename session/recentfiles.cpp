#include "session/recentfiles.h"

#include <QFileInfo>
#include <QSettings>

#include "session/toolsettings.h"

namespace {

// A hand-edited or damaged store may hold anything under the key: only non-empty strings
// count, each once.
QStringList cleaned(const QVariant &stored)
{
    QStringList paths;
    const QVariantList entries = stored.typeId() == QMetaType::QString ? QVariantList{stored} : stored.toList();
    for (const QVariant &entry : entries) {
        if (entry.typeId() != QMetaType::QString && entry.typeId() != QMetaType::QByteArray)
            continue;
        const QString path = entry.toString();
        if (!path.isEmpty() && !paths.contains(path))
            paths << path;
        if (paths.size() == RecentFiles::limit)
            break;
    }
    return paths;
}

} // namespace

void RecentFiles::add(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList paths = this->paths();
    paths.removeAll(absolute);
    paths.prepend(absolute);
    while (paths.size() > limit)
        paths.removeLast();
    writeSetting(store, SettingKeys::RecentFiles, paths);
}

QStringList RecentFiles::paths() const
{
    return cleaned(store.value(QLatin1String(SettingKeys::RecentFiles.name)));
}
