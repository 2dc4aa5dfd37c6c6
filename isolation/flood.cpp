#include "isolation/flood.h"

#include "isolation/markerflood.h"

#include <QDebug>
#include <QElapsedTimer>

#include <cstring>

static void copyGradient(const QImage &gradientImage, MarkerFlood &flood)
{
    const QImage grey = gradientImage.depth() == 8 || gradientImage.isNull()
        ? gradientImage
        : gradientImage.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        std::memcpy(flood.gradientLine(y), grey.constScanLine(y), size_t(grey.width()));
}

int floodFromMarkers(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                     const QList<QPoint> &removePoints, QList<QPoint> &result,
                     const ProgressCallback &progress)
{
    QElapsedTimer clock;
    clock.start();
    const int W = gradientImage.width();
    const int H = gradientImage.height();
    MarkerFlood flood(W, H);
    // The gradient is read by (x, y) through its own stride, so a stride that differs from
    // the label image's is only worth a note.
    if (gradientImage.bytesPerLine() != ((qsizetype(W) + 3) & ~qsizetype(3)))
        qDebug() << "different scanlines";
    copyGradient(gradientImage, flood);
    flood.run(keepPoints, removePoints, progress, &clock);

    result.reserve(result.size() + flood.keepCount());
    flood.forEachKeep([&](int x, int y) { result.append(QPoint(x, y)); });
    qDebug() << "ws: 4" << clock.elapsed();
    qDebug() << "Done";
    return 0;
}

QImage floodLabelImage(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                       const QList<QPoint> &removePoints, const ProgressCallback &progress)
{
    if (gradientImage.isNull())
        return {};
    const int W = gradientImage.width();
    const int H = gradientImage.height();
    MarkerFlood flood(W, H);
    copyGradient(gradientImage, flood);
    flood.run(keepPoints, removePoints, progress, nullptr);
    QImage labels(W, H, QImage::Format_Indexed8);
    labels.setColorTable({qRgb(0, 0, 0), qRgb(0, 255, 0), qRgb(255, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < H; ++y) {
        const uchar *state = flood.stateLine(y);
        uchar *out = labels.scanLine(y);
        for (int x = 0; x < W; ++x)
            out[x] = uchar(MarkerFlood::label(state[x]));
    }
    return labels;
}
