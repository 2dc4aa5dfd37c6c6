#pragma once

#include <QStringList>

class QSettings;

// The files last opened, newest first, kept in the settings store. Anything that opens a
// file adds it here; the list itself knows nothing of what the files are.
class RecentFiles
{
public:
    static constexpr int limit = 8;

    explicit RecentFiles(QSettings &store) : store(store) {}

    // Puts `path` first, as an absolute path; an earlier entry for it goes.
    void add(const QString &path);
    // Newest first, at most `limit`; whatever else the store holds under the key is ignored.
    QStringList paths() const;

private:
    QSettings &store;
};
