#include "isolation/markerinput.h"

#include <QFile>
#include <QLocale>
#include <QImage>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

bool parseCoordinate(const QString &token, double &value)
{
    bool ok = false;
    value = token.toDouble(&ok);
    return ok && std::isfinite(value);
}

// Returns an empty string when the line holds a dab (or nothing), else the reason.
QString parseLine(QString line, QList<MarkerDab> &dabs)
{
    const qsizetype comment = line.indexOf(QLatin1Char('#'));
    if (comment >= 0)
        line.truncate(comment);
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
    if (fields.isEmpty())
        return {};
    if (fields.size() != 4)
        return QStringLiteral("expected \"keep X Y SIZE\", \"remove X Y SIZE\" or \"edge X Y SIZE\", got %1 field(s)")
            .arg(fields.size());

    MarkerDab dab;
    if (fields[0] == QLatin1String("keep"))
        dab.keep = true;
    else if (fields[0] == QLatin1String("remove"))
        dab.keep = false;
    else if (fields[0] == QLatin1String("edge"))
        dab = MarkerDab::edgeDab({});
    else
        return QStringLiteral("expected \"keep\", \"remove\" or \"edge\", got \"%1\"").arg(fields[0]);

    double x = 0;
    double y = 0;
    if (!parseCoordinate(fields[1], x))
        return QStringLiteral("X is not a number: \"%1\"").arg(fields[1]);
    if (!parseCoordinate(fields[2], y))
        return QStringLiteral("Y is not a number: \"%1\"").arg(fields[2]);
    bool ok = false;
    const int size = fields[3].toInt(&ok);
    if (!ok || size < 0 || size > 255)
        return QStringLiteral("SIZE must be an integer from 0 to 255, got \"%1\"").arg(fields[3]);
    dab.rect = QRectF(x, y, size, size);
    dabs.append(dab);
    return {};
}

} // namespace

bool parseMarkerText(const QString &text, const QString &source, QList<MarkerDab> &drawingOrder,
                     QString &error)
{
    QList<MarkerDab> dabs;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString reason = parseLine(lines[i], dabs);
        if (!reason.isEmpty()) {
            error = QStringLiteral("%1:%2: %3").arg(source).arg(i + 1).arg(reason);
            return false;
        }
    }
    drawingOrder = dabs;
    return true;
}

QString markerText(const QList<MarkerDab> &drawingOrder, const QString &header)
{
    QString text;
    for (const QString &line : header.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        text += QStringLiteral("# ") + line + QLatin1Char('\n');
    for (const MarkerDab &dab : drawingOrder) {
        text += QStringLiteral("%1 %2 %3 %4\n")
                    .arg(markerKindName(dab.kind()),
                         QString::number(dab.rect.x(), 'g', QLocale::FloatingPointShortest),
                         QString::number(dab.rect.y(), 'g', QLocale::FloatingPointShortest))
                    .arg(int(dab.rect.width()));
    }
    return text;
}

QString markerKindName(MarkerKind kind)
{
    switch (kind) {
    case MarkerKind::Keep: return QStringLiteral("keep");
    case MarkerKind::Remove: return QStringLiteral("remove");
    case MarkerKind::Edge: break;
    }
    return QStringLiteral("edge");
}

bool readMarkerFile(const QString &path, QList<MarkerDab> &drawingOrder, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return parseMarkerText(QString::fromUtf8(bytes), path, drawingOrder, error);
}

QList<MarkerDab> placeDabs(const QList<MarkerDab> &drawingOrder, QSize pictureSize)
{
    QList<MarkerDab> placed;
    placed.reserve(drawingOrder.size());
    for (const MarkerDab &dab : drawingOrder) {
        if (dabCornerAccepted(dab.rect.topLeft(), QSizeF(pictureSize)))
            placed.append(dab);
    }
    // Every dab sits at the same z, so the scene lists the last one added first.
    std::reverse(placed.begin(), placed.end());
    return placed;
}

QImage markerPictureArgb(const QImage &markerPicture)
{
    return markerPicture.format() == QImage::Format_ARGB32
        ? markerPicture
        : markerPicture.convertToFormat(QImage::Format_ARGB32);
}

void markerPicturePoints(const QImage &markerPicture, QList<QPoint> &keepPoints,
                         QList<QPoint> &removePoints)
{
    const QImage picture = markerPictureArgb(markerPicture);
    const int W = picture.width();
    const int H = picture.height();
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y) {
            switch (paintedMark(reinterpret_cast<const QRgb *>(picture.constScanLine(y))[x])) {
            case PaintedMark::Keep: keepPoints.append(QPoint(x, y)); break;
            case PaintedMark::Remove: removePoints.append(QPoint(x, y)); break;
            case PaintedMark::None: break;
            }
        }
    }
}
