#include "output/pngwriter.h"

#include <QIODevice>
#include <QImage>
#include <QSemaphore>
#include <QtEndian>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "analysis/parallel.h"


// Settings, measured on 24-megapixel photos (smooth and noisy) against other filters and
// strategies: the Sub filter with zlib's run-length strategy compresses as well as the
// usual fast photo setting at the least work per byte; larger IDAT chunks mean fewer
// writes. The level does not matter with the run-length strategy, as long as it is not 0.

namespace {

constexpr int compressionLevel = 1;
constexpr size_t idatBytes = size_t(1) << 20;
// Rows are turned into PNG's byte order on a second thread, a block ahead of the encoder.
constexpr int blockRows = 16;
constexpr int ringBlocks = 4;
constexpr qint64 smallestPipelined = qint64(1) << 18; // pixels

struct Output
{
    QIODevice *device = nullptr;
    QString error;
};

void writeData(png_structp png, png_bytep data, size_t length)
{
    auto *out = static_cast<Output *>(png_get_io_ptr(png));
    if (out->device->write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length)) {
        out->error = out->device->errorString();
        png_error(png, "write failed");
    }
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

// The picture's rows in PNG's byte order, block by block through a small ring: filled on a
// thread of their own while the encoder works through the previous blocks, or on demand.
class RowSource
{
public:
    // `channels`: 1 grey (the picture's own bytes), 3 RGB or 4 RGBA.
    RowSource(const QImage &image, int channels)
        : image(image), channels(channels), rowBytes(size_t(image.width()) * size_t(channels)),
          blocks((image.height() + blockRows - 1) / blockRows),
          ring(size_t(ringBlocks) * blockRows * rowBytes)
    {
        if (qint64(image.width()) * image.height() >= smallestPipelined && Parallel::threadCount() > 1)
            worker = std::thread([this] {
                for (int block = 0; block < blocks; ++block) {
                    free.acquire();
                    if (stopped)
                        return;
                    convert(block);
                    filled.release();
                }
            });
    }
    ~RowSource()
    {
        if (worker.joinable()) {
            stopped = true;
            free.release(ringBlocks);
            worker.join();
        }
    }

    // Rows of `block`, valid until release(block).
    const uchar *acquire(int block)
    {
        if (worker.joinable())
            filled.acquire();
        else
            convert(block);
        return slot(block);
    }
    void release(int) { free.release(); }

private:
    uchar *slot(int block) { return ring.data() + size_t(block % ringBlocks) * blockRows * rowBytes; }
    void convert(int block)
    {
        uchar *out = slot(block);
        const int first = block * blockRows;
        const int last = std::min(image.height(), first + blockRows);
        for (int y = first; y < last; ++y, out += rowBytes) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            if (channels == 4)
                toRgba(line, out, image.width());
            else if (channels == 3)
                toRgb(line, out, image.width());
            else
                std::copy_n(image.constScanLine(y), rowBytes, out);
        }
    }

    const QImage &image;
    const int channels;
    const size_t rowBytes;
    const int blocks;
    std::vector<uchar> ring;
    QSemaphore free{ringBlocks};
    QSemaphore filled;
    std::atomic<bool> stopped{false};
    std::thread worker;
};

// No object with a destructor lives in this frame: libpng leaves it by longjmp on errors.
bool encode(int W, int H, int channels, Output &out, RowSource &rows)
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
    png_set_write_fn(png, &out, writeData, flushData);
    png_set_IHDR(png, info, png_uint_32(W), png_uint_32(H), 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, compressionLevel);
    png_set_compression_strategy(png, Z_RLE);
    png_set_compression_buffer_size(png, idatBytes);
    png_write_info(png, info);
    const size_t rowBytes = size_t(W) * size_t(channels);
    for (int block = 0; block * blockRows < H; ++block) {
        const uchar *row = rows.acquire(block);
        for (int y = block * blockRows; y < std::min(H, (block + 1) * blockRows); ++y, row += rowBytes)
            png_write_row(png, row);
        rows.release(block);
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
    const bool grey = image.format() == QImage::Format_Grayscale8;
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format format = grey ? QImage::Format_Grayscale8 : alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const QImage pixels = image.format() == format ? image : image.convertToFormat(format);
    if (pixels.isNull())
        return fail(QStringLiteral("not enough memory"));

    const int channels = grey ? 1 : alpha ? 4 : 3;
    Output out;
    out.device = &device;
    RowSource rows(pixels, channels);
    if (!encode(pixels.width(), pixels.height(), channels, out, rows))
        return fail(out.error.isEmpty() ? QStringLiteral("PNG encoding failed") : out.error);
    return true;
}
