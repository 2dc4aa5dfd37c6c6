// peltrix-cut's marker inputs: the markers-file parser, and marker pictures (encoded, or raw
// pixels of the photo's size) through the session's isolation.
#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "session/cutsession.h"
#include "fuzzsupport.h"
#include "isolation/markerinput.h"
#include "output/pictureio.h"

namespace {

constexpr qint64 largestFuzzPixels = 1 << 16;
// The isolation's cost grows with the dabs' area; the parser sees them all.
constexpr qsizetype isolatedDabs = 64;

void checkIsolation(CutSession &cut)
{
    const qint64 pixels = qint64(cut.size().width()) * cut.size().height();
    (void)cut.hasKeepMarker();
    for (qint32 index : cut.isolate())
        require(index >= 0 && index < pixels, "keep pixels lie on the picture");
}

void fuzzText(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<MarkerDab> dabs;
    QString error;
    if (!parseMarkerText(text, QStringLiteral("fuzz"), dabs, error)) {
        require(error.startsWith(QLatin1String("fuzz:")), "a parse error names its source and line");
        return;
    }
    for (const MarkerDab &dab : dabs)
        require(dab.rect.width() >= 0 && dab.rect.width() <= 255 && dab.rect.width() == dab.rect.height(),
                "dab sizes are whole squares from 0 to 255");

    // What the window saves, peltrix-cut reads back exactly.
    QList<MarkerDab> again;
    require(parseMarkerText(markerText(dabs, text.left(200)), QStringLiteral("again"), again, error),
            "saved dabs parse");
    require(again == dabs, "saved dabs read back as they were");

    CutSession &cut = blobSession();
    cut.setMarkerPicture(QImage());
    cut.setDabs(dabs.mid(0, isolatedDabs));
    checkIsolation(cut);
}

void fuzzPicture(const QImage &markers)
{
    CutSession &cut = blobSession();
    cut.setDabs({});
    cut.setMarkerPicture(markers);
    checkIsolation(cut);
}

void fuzzEncodedPicture(const QByteArray &bytes)
{
    QByteArray data = bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    {
        QImageReader header(&buffer);
        const QSize declared = header.size();
        if (declared.isValid() && qint64(declared.width()) * declared.height() > largestFuzzPixels)
            return;
    }
    buffer.seek(0);
    const QImage picture = readPicture(&buffer);
    if (picture.isNull() || qint64(picture.width()) * picture.height() > largestFuzzPixels)
        return;
    // peltrix-cut refuses a picture of another size; the session copes with any.
    fuzzPicture(picture);
    fuzzPicture(picture.copy(QRect(QPoint(0, 0), blobSession().size())));
}

void fuzzRawPicture(FuzzedDataProvider &input)
{
    QImage picture(blobSession().size(), QImage::Format_ARGB32);
    picture.fill(0);
    const std::vector<uint8_t> pixels = input.ConsumeRemainingBytes<uint8_t>();
    const size_t bytes = std::min(pixels.size(), size_t(picture.sizeInBytes()));
    std::copy(pixels.begin(), pixels.begin() + qsizetype(bytes), picture.bits());
    fuzzPicture(picture);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    prepareFuzzing();
    lowerAllocationLimit(16);
    (void)blobSession();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
    case 1: {
        const std::string rest = input.ConsumeRemainingBytesAsString();
        fuzzText(QByteArray(rest.data(), qsizetype(rest.size())));
        break;
    }
    case 2: {
        const std::string rest = input.ConsumeRemainingBytesAsString();
        fuzzEncodedPicture(QByteArray(rest.data(), qsizetype(rest.size())));
        break;
    }
    default:
        fuzzRawPicture(input);
        break;
    }
    return 0;
}
