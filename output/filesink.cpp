#include "output/filesink.h"

#include <QFileDevice>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace {

constexpr size_t pieceBytes = size_t(1) << 20;
constexpr qint64 writeBackBytes = qint64(8) << 20;

} // namespace

FileSink::FileSink(QFileDevice &file)
    : file(file)
{
    held.reserve(pieceBytes);
    open(QIODevice::WriteOnly);
}

qint64 FileSink::writeData(const char *data, qint64 length)
{
    if (failed)
        return -1;
    if (held.size() + size_t(length) > pieceBytes && !drain())
        return -1;
    if (size_t(length) >= pieceBytes)
        return writeWhole(data, length) ? length : -1;
    held.insert(held.end(), data, data + length);
    return length;
}

bool FileSink::finish()
{
    return !failed && drain();
}

bool FileSink::drain()
{
    const bool done = writeWhole(held.data(), qint64(held.size()));
    held.clear();
    return done;
}

bool FileSink::writeWhole(const char *data, qint64 length)
{
    while (length > 0) {
        // After a short write the next one fails with the reason, or goes on.
        const qint64 n = file.write(data, length);
        if (n <= 0) {
            failed = true;
            setErrorString(file.errorString());
            return false;
        }
        data += n;
        length -= n;
        written += n;
    }
#ifdef Q_OS_LINUX
    if (written - handedBack >= writeBackBytes && file.handle() >= 0) {
        sync_file_range(file.handle(), handedBack, written - handedBack, SYNC_FILE_RANGE_WRITE);
        handedBack = written;
    }
#endif
    return true;
}
