#pragma once

class QByteArray;
class QSaveFile;
class QString;

// Puts a QSaveFile's new file in place only when every byte written reached the disk.
// QSaveFile::commit() alone renames the new file over the target even when its last buffered
// bytes could not be written (a full disk), leaving a short or empty file and reporting
// success. On failure the target stays as it was, the new file goes, and `error` (when given)
// has the system's reason.
bool commitComplete(QSaveFile &file, QString *error = nullptr);

// Replaces the file at `path` with `bytes` as one step, through commitComplete(). On failure
// `error` (when given) has the reason: the system's, or why the new file could not be made.
bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);
