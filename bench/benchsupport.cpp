#include "bench/benchsupport.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QSet>
#include <QtMath>

#include <malloc.h>

#include <cstring>
#include <random>

QImage benchPhoto(double megapixels)
{
    const QSize original = QImageReader(QString::fromLatin1(benchPhotoPath())).size();
    if (original.isEmpty())
        return {};
    const double aspect = double(original.width()) / original.height();
    const int height = qRound(std::sqrt(megapixels * 1e6 / aspect));
    const int width = qRound(height * aspect);
    return benchPhoto(QSize(width, height));
}

QImage benchPhoto(QSize size)
{
    QImage original(QString::fromLatin1(benchPhotoPath()));
    if (original.isNull())
        return {};
    QImage picture = original.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_ARGB32);
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int y = 0; y < picture.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, qRed(c) + noise(random), 255),
                           qBound(0, qGreen(c) + noise(random), 255),
                           qBound(0, qBlue(c) + noise(random), 255));
        }
    }
    return picture;
}

QImage noisyBenchPhoto(double megapixels)
{
    const QImage smooth = benchPhoto(megapixels);
    if (smooth.isNull())
        return {};
    const QString folder = QDir::tempPath() + QStringLiteral("/peltrix-bench");
    QDir().mkpath(folder);
    const QString noisyPath =
        QStringLiteral("%1/ladybird-%2x%3-noisy.ppm").arg(folder).arg(smooth.width()).arg(smooth.height());
    // Up to 100 megapixels in 32 bits, beyond the reader's default limit.
    QImageReader::setAllocationLimit(qMax(QImageReader::allocationLimit(), 512));
    QImage noisy(noisyPath);
    if (!noisy.isNull())
        return noisy.convertToFormat(QImage::Format_ARGB32);

    // ImageMagick's own program rather than a wrapper of the same name earlier in the path.
    const QString convert = QFile::exists(QStringLiteral("/usr/bin/convert")) ? QStringLiteral("/usr/bin/convert")
                                                                              : QStringLiteral("convert");
    // In bands of a few megapixels, each with its own seed: Debian's ImageMagick policy
    // refuses pictures much larger than that.
    noisy = QImage(smooth.size(), QImage::Format_RGB32);
    const int bandRows = qMax(1, (1 << 23) / smooth.width());
    const QString in = folder + QStringLiteral("/band-in.ppm");
    const QString out = folder + QStringLiteral("/band-out.ppm");
    for (int top = 0, band = 1; top < smooth.height(); top += bandRows, ++band) {
        const int rows = qMin(bandRows, smooth.height() - top);
        if (!smooth.copy(0, top, smooth.width(), rows).convertToFormat(QImage::Format_RGB32).save(in, "PPM"))
            return {};
        const int status = QProcess::execute(convert, {QStringLiteral("-seed"), QString::number(band), in,
                                                       QStringLiteral("+noise"), QStringLiteral("Gaussian"), out});
        const QImage part = QImage(out).convertToFormat(QImage::Format_RGB32);
        if (status != 0 || part.size() != QSize(smooth.width(), rows))
            return {};
        for (int y = 0; y < rows; ++y)
            std::memcpy(noisy.scanLine(top + y), part.constScanLine(y), size_t(smooth.width()) * 4);
    }
    QFile::remove(in);
    QFile::remove(out);
    noisy.save(noisyPath, "PPM");
    return noisy.convertToFormat(QImage::Format_ARGB32);
}

QList<MarkerDab> benchStrokes(QSize pictureSize)
{
    // Strokes drawn on the 2560 x 1600 original, in drawing order.
    struct Stroke { bool keep; double x0, y0, x1, y1, size; };
    const Stroke strokes[] = {
        {true, 1740, 735, 1830, 735, 14},   // across the red wing cases
        {true, 1760, 705, 1815, 705, 10},
        {true, 1785, 700, 1785, 790, 10},   // down the middle of the body
        {false, 1600, 560, 2000, 560, 24},  // above
        {false, 1600, 920, 2000, 920, 24},  // below, over the stalk
        {false, 1620, 560, 1620, 920, 24},  // left
        {false, 1980, 560, 1980, 920, 24},  // right
        {false, 200, 200, 2400, 1400, 40},  // across the background
        {false, 300, 1400, 2300, 300, 40},
    };
    const double sx = pictureSize.width() / 2560.0;
    const double sy = pictureSize.height() / 1600.0;
    QList<MarkerDab> drawn;
    for (const Stroke &s : strokes) {
        const double length = std::hypot((s.x1 - s.x0) * sx, (s.y1 - s.y0) * sy);
        const double size = qMax(2.0, s.size * sx);
        const int steps = qMax(1, int(length / (size / 2)));
        for (int i = 0; i <= steps; ++i) {
            const double t = double(i) / steps;
            const QPointF corner((s.x0 + (s.x1 - s.x0) * t) * sx, (s.y0 + (s.y1 - s.y0) * t) * sy);
            if (dabCornerAccepted(corner, QSizeF(pictureSize)))
                drawn.append({s.keep, QRectF(corner, QSizeF(size, size))});
        }
    }
    std::reverse(drawn.begin(), drawn.end());
    return drawn;
}

qsizetype distinctColours(const QImage &picture)
{
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            colours.insert(line[x] & 0xFFFFFF);
    }
    return colours.size();
}

static qint64 statusField(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

qint64 peakResidentBytes() { return statusField("VmHWM:"); }

void resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

PeakGrowth::PeakGrowth()
{
    malloc_trim(0);
    resetPeakResident();
    base = statusField("VmRSS:");
}

qint64 PeakGrowth::bytes() const
{
    return peakResidentBytes() - base;
}
