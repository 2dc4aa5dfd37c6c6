#include "output/savefile.h"

#include <QSaveFile>

bool commitComplete(QSaveFile &file, QString *error)
{
    if (file.flush() && file.commit())
        return true;
    // Read before cancelling, which puts its own text in place of the reason.
    if (error)
        *error = file.errorString();
    file.cancelWriting();
    return false;
}

bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        return commitComplete(file, error);
    if (error)
        *error = file.errorString();
    return false;
}
