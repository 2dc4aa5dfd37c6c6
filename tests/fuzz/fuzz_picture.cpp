// Picture bytes through the shared reader and the whole cut, in memory: analysis, isolation
// with a few fixed dabs, matte, cut-out and the export's composition.
#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>

#include <cstdint>

#include "session/cutsession.h"
#include "fuzzsupport.h"
#include "output/pictureio.h"

namespace {

// The reader accepts 100 megapixels; a fuzzer needs thousands of runs a minute.
constexpr qint64 largestFuzzPixels = 1 << 18;
constexpr int fuzzAllocationLimitMiB = 16;

// Two keep dabs in the middle, remove dabs near three corners, and one on the first column
// that the canvas would not have placed.
QList<MarkerDab> fixedDabs(QSize size)
{
    const double w = size.width();
    const double h = size.height();
    const auto dab = [&](bool keep, double x, double y, double side) {
        return MarkerDab{keep, QRectF(x * w, y * h, side, side)};
    };
    return {dab(true, 0.45, 0.45, 3), dab(true, 0.5, 0.4, 1), dab(false, 0.05, 0.05, 4),
            dab(false, 0.9, 0.1, 6), dab(false, 0.1, 0.85, 2), dab(false, 0.0, 0.5, 5)};
}

bool withinLimit(QSize size)
{
    return qint64(size.width()) * size.height() <= largestFuzzPixels;
}

void checkCut(CutSession &session)
{
    const QSize size = session.size();
    const qint64 pixels = qint64(size.width()) * size.height();

    session.analyse();
    require(session.labelMap().size() == size, "a label for every pixel");

    session.setDabs(fixedDabs(size));
    const QList<qint32> &keep = session.isolate();
    require(keep.size() <= pixels, "no more keep pixels than pixels");
    for (qint32 index : keep)
        require(index >= 0 && index < pixels, "keep pixels lie on the picture");

    session.setSmoothing(true, 5);
    require(session.buildMatte().size() == size, "the matte has the photo's size");
    require(session.buildCutout().size() == size, "the cut-out has the photo's size");

    session.setObjectOffset(QPoint(size.width() / 3, -size.height() / 4));
    require(session.exportImage(size).size() == size, "the export has the asked size");
    const QSize other(size.height() % 97 + 1, size.width() % 89 + 1);
    session.setBackgroundPicture(session.photo().mirrored());
    session.zoomBackground(1.05);
    require(session.exportImage(other).size() == other, "the export over a picture has the asked size");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    prepareFuzzing();
    lowerAllocationLimit(fuzzAllocationLimitMiB);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    {
        QImageReader header(&buffer);
        const QSize declared = header.size();
        if (declared.isValid() && !withinLimit(declared))
            return 0;
    }
    buffer.seek(0);

    QString error;
    const QImage photo = readPicture(&buffer, &error);
    if (photo.isNull()) {
        require(!error.isEmpty(), "a failed read says why");
        return 0;
    }
    require(photo.format() == QImage::Format_ARGB32, "the reader hands out ARGB32");
    if (!withinLimit(photo.size()))
        return 0;

    CutSession session;
    session.setPhoto(photo);
    checkCut(session);
    return 0;
}
