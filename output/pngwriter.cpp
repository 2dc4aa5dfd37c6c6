#include "output/pngwriter.h"

#include <QFileDevice>
#include <QImage>
#include <QtEndian>

#include <png.h>
#include <zlib.h>

#include <vector>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

// Settings, measured on 24-megapixel photos (smooth and noisy) against other filters and
// strategies: the Sub filter with zlib's run-length strategy compresses as well as the
// usual fast photo setting at the least work per byte; larger IDAT chunks mean fewer
// writes. The level does not matter with the run-length strategy, as long as it is not 0.

namespace {

constexpr int compressionLevel = 1;
constexpr size_t idatBytes = size_t(1) << 20;
// Files are handed to the system's write-back every so many bytes, so that the sync that
// makes a replacement safe does not wait for the whole file at the end.
constexpr qint64 writeBackBytes = qint64(8) << 20;

struct Output
{
    QIODevice *device = nullptr;
    QString error;
    qint64 written = 0;
    qint64 handedBack = 0;
    int handle = -1; // the file's descriptor when early write-back is possible
};

void writeData(png_structp png, png_bytep data, size_t length)
{
    auto *out = static_cast<Output *>(png_get_io_ptr(png));
    if (out->device->write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length)) {
        out->error = out->device->errorString();
        png_error(png, "write failed");
    }
    out->written += qint64(length);
#ifdef Q_OS_LINUX
    if (out->handle >= 0 && out->written - out->handedBack >= writeBackBytes) {
        auto *file = static_cast<QFileDevice *>(out->device);
        if (file->flush())
            sync_file_range(out->handle, out->handedBack, out->written - out->handedBack,
                            SYNC_FILE_RANGE_WRITE);
        out->handedBack = out->written;
    }
#endif
}

void flushData(png_structp) {}

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto *out = static_cast<Output *>(png_get_error_ptr(png));
    if (out->error.isEmpty())
        out->error = QString::fromLatin1(message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Straight alpha, one row of bytes in the order PNG keeps them.
void toRgba(const QRgb *in, uchar *out, int W)
{
    for (int x = 0; x < W; ++x)
        qToBigEndian<quint32>((in[x] << 8) | (in[x] >> 24), out + 4 * x);
}

void toRgb(const QRgb *in, uchar *out, int W)
{
    for (int x = 0; x < W; ++x) {
        out[3 * x] = uchar(qRed(in[x]));
        out[3 * x + 1] = uchar(qGreen(in[x]));
        out[3 * x + 2] = uchar(qBlue(in[x]));
    }
}

// No object with a destructor lives in this frame: libpng leaves it by longjmp on errors.
bool encode(const QImage &image, bool alpha, Output &out, uchar *row)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &out, onError, onWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const int W = image.width();
    const int H = image.height();
    png_set_write_fn(png, &out, writeData, flushData);
    png_set_IHDR(png, info, png_uint_32(W), png_uint_32(H), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, compressionLevel);
    png_set_compression_strategy(png, Z_RLE);
    png_set_compression_buffer_size(png, idatBytes);
    png_write_info(png, info);
    for (int y = 0; y < H; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        if (alpha)
            toRgba(line, row, W);
        else
            toRgb(line, row, W);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePng(const QImage &image, QIODevice &device, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("empty picture"));
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const QImage pixels = image.format() == format ? image : image.convertToFormat(format);
    if (pixels.isNull())
        return fail(QStringLiteral("not enough memory"));

    Output out;
    out.device = &device;
#ifdef Q_OS_LINUX
    if (auto *file = qobject_cast<QFileDevice *>(&device))
        out.handle = file->handle();
#endif
    std::vector<uchar> row(size_t(pixels.width()) * (alpha ? 4 : 3));
    if (!encode(pixels, alpha, out, row.data()))
        return fail(out.error.isEmpty() ? QStringLiteral("PNG encoding failed") : out.error);
    return true;
}
