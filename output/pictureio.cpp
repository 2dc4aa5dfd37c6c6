#include "output/pictureio.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>

#include <mutex>

namespace {

// 100 megapixels of 32-bit pixels, in the MiB that QImageReader counts.
const int allocationLimitMiB = 382;
const qint64 largestPixelCount = 100'000'000;

QImage failed(QString *errorMessage, const QString &reason)
{
    if (errorMessage)
        *errorMessage = reason;
    return QImage();
}

QString tooLarge(QSize size)
{
    return QCoreApplication::translate("PictureIO", "The picture is too large (%1 x %2)").arg(size.width()).arg(size.height());
}

QImage readFrom(QImageReader &reader, QString *errorMessage)
{
    const auto fail = [errorMessage](const QString &reason) { return failed(errorMessage, reason); };
    // Process-wide, so set once; every picture comes through here anyway.
    static std::once_flag limitSet;
    std::call_once(limitSet, [] { QImageReader::setAllocationLimit(allocationLimitMiB); });
    reader.setAutoTransform(true);
    // Not every codec honours the allocation limit, so refuse absurd header sizes here.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > largestPixelCount)
        return fail(tooLarge(size));
    QImage picture = reader.read();
    if (picture.isNull())
        return fail(reader.errorString());
    picture.convertTo(QImage::Format_ARGB32);
    if (picture.isNull())
        return fail(QCoreApplication::translate("PictureIO", "Not enough memory for the picture"));
    return picture;
}

} // namespace

QImage readPicture(const QString &path, QString *errorMessage)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorMessage)
            *errorMessage = file.errorString();
        return {};
    }
    return readPicture(&file, errorMessage);
}

QImage readPicture(QIODevice *device, QString *errorMessage)
{
    QImageReader reader(device);
    return readFrom(reader, errorMessage);
}

QImage acceptPicture(const QImage &picture, QString *errorMessage)
{
    if (picture.isNull())
        return failed(errorMessage, QCoreApplication::translate("PictureIO", "The picture is empty"));
    if (qint64(picture.width()) * picture.height() > largestPixelCount)
        return failed(errorMessage, tooLarge(picture.size()));
    QImage converted = picture.convertToFormat(QImage::Format_ARGB32);
    if (converted.isNull())
        return failed(errorMessage, QCoreApplication::translate("PictureIO", "Not enough memory for the picture"));
    return converted;
}
