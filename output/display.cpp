#include "output/display.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "analysis/largebuffer.h"
#include "analysis/parallel.h"

namespace {

constexpr qint64 rowsPerPart = 16;

// Which source column (or row) nearest-neighbour scaling takes for each target column: Qt's
// own scaling of a one-pixel-high strip numbered by column, so that the rounding is Qt's.
std::vector<int> nearestMap(int from, int to, bool columns, QImage::Format format)
{
    std::vector<int> map(size_t(std::max(to, 0)));
    // Indices up to 65535 travel in two 8-bit strips: low and high byte.
    for (int shift : {0, 8}) {
        QImage strip(columns ? QSize(from, 1) : QSize(1, from), format);
        if (format == QImage::Format_Indexed8) {
            QList<QRgb> greys(256);
            for (int i = 0; i < 256; ++i)
                greys[i] = qRgb(i, i, i);
            strip.setColorTable(greys);
        }
        for (int i = 0; i < from; ++i) {
            uchar *pixel = columns ? strip.scanLine(0) + i : strip.scanLine(i);
            *pixel = uchar((i >> shift) & 0xFF);
        }
        const QImage scaled = strip.scaled(columns ? QSize(to, 1) : QSize(1, to), Qt::IgnoreAspectRatio,
                                           Qt::FastTransformation);
        for (int i = 0; i < to; ++i) {
            const int value = scaled.pixelIndex(columns ? i : 0, columns ? 0 : i);
            map[size_t(i)] |= value << shift;
        }
    }
    return map;
}

bool isOpaque(const QImage &source)
{
    const int W = source.width();
    std::atomic<bool> seeThrough{false};
    Parallel::forRange(source.height(), rowsPerPart, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end && !seeThrough.load(std::memory_order_relaxed); ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(source.constScanLine(int(y)));
            QRgb all = 0xFF000000u;
            for (int x = 0; x < W; ++x)
                all &= line[x];
            if (qAlpha(all) != 255)
                seeThrough = true;
        }
    });
    return !seeThrough;
}

void releaseHeldImage(void *held)
{
    delete static_cast<QImage *>(held);
}

} // namespace

QImage displayCopy(const QImage &picture)
{
    if (picture.isNull())
        return QImage();
    const QImage source = picture.format() == QImage::Format_ARGB32 ? picture
                                                                    : picture.convertToFormat(QImage::Format_ARGB32);
    const int W = source.width();
    const int H = source.height();
    const bool opaque = isOpaque(source);
    QImage copy = LargeBuffer::image(source.size(), opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (copy.isNull())
        return QImage();
    Parallel::forRange(H, rowsPerPart, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(source.constScanLine(int(y)));
            QRgb *out = reinterpret_cast<QRgb *>(copy.scanLine(int(y)));
            if (opaque)
                std::memcpy(out, in, size_t(W) * sizeof(QRgb));
            else
                for (int x = 0; x < W; ++x)
                    out[x] = qPremultiply(in[x]);
        }
    });
    return copy;
}

QImage displayView(const QImage &picture)
{
    if (picture.format() != QImage::Format_ARGB32 || !isOpaque(picture))
        return displayCopy(picture);
    // Read-only over the picture's memory, which the held copy keeps alive: a change to either
    // side makes it a picture of its own first.
    auto *held = new QImage(picture);
    return QImage(held->constBits(), held->width(), held->height(), held->bytesPerLine(),
                  QImage::Format_RGB32, releaseHeldImage, held);
}

QImage scaledBoard(const QImage &board, QSize size)
{
    if (board.isNull() || size.isEmpty())
        return QImage();
    if (board.format() != QImage::Format_Indexed8 || board.width() > 65535 || board.height() > 65535)
        return board.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation).convertToFormat(QImage::Format_ARGB32);
    const std::vector<int> columns = nearestMap(board.width(), size.width(), true, board.format());
    const std::vector<int> rows = nearestMap(board.height(), size.height(), false, board.format());
    QImage scaled = LargeBuffer::image(size, QImage::Format_ARGB32);
    if (scaled.isNull())
        return QImage();
    const QList<QRgb> table = board.colorTable();
    const qsizetype rowBytes = qsizetype(size.width()) * 4;
    Parallel::forRange(size.height(), rowsPerPart, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            QRgb *out = reinterpret_cast<QRgb *>(scaled.scanLine(int(y)));
            // Rows that scaling takes from the same source row come out the same.
            if (y > begin && rows[size_t(y)] == rows[size_t(y - 1)]) {
                std::memcpy(out, scaled.constScanLine(int(y - 1)), size_t(rowBytes));
                continue;
            }
            const uchar *in = board.constScanLine(rows[size_t(y)]);
            for (int x = 0; x < size.width(); ++x) {
                const uchar index = in[columns[size_t(x)]];
                out[x] = index < table.size() ? table[index] : 0xFF000000u;
            }
        }
    });
    return scaled;
}
