#pragma once

class QSaveFile;
class QString;

// Puts a QSaveFile's new file in place only when every byte written reached the disk.
// QSaveFile::commit() alone renames the new file over the target even when its last buffered
// bytes could not be written (a full disk), leaving a short or empty file and reporting
// success. On failure the target stays as it was, the new file goes, and `error` (when given)
// has the system's reason.
bool commitComplete(QSaveFile &file, QString *error = nullptr);
