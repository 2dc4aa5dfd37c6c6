#include "bench/benchsupport.h"

#include <QFile>
#include <QImageReader>
#include <QSet>
#include <QtMath>

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
