#pragma once

#include <QIODevice>

#include <vector>

class QFileDevice;

// Writes into a file opened unbuffered, in large pieces, each written whole: the toolkit's
// file buffer may drop a short write or lose the reason of a failed flush, and a save file
// would then be committed short. A failed write keeps the system's reason (errorString()).
// Written data is handed to the system's write-back as it goes, so that a final sync has
// little left to wait for.
class FileSink : public QIODevice
{
public:
    explicit FileSink(QFileDevice &file);

    // Writes what is still held; false, with the reason, when that fails.
    bool finish();
    // Whether a write failed; errorString() then holds the system's reason.
    bool writeFailed() const { return failed; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    bool drain();
    bool writeWhole(const char *data, qint64 length);

    QFileDevice &file;
    std::vector<char> held;
    qint64 written = 0;
    qint64 handedBack = 0;
    bool failed = false;
};
