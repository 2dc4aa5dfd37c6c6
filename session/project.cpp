#include "session/project.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>

#include <cmath>
#include <cstring>
#include <limits>

#include "output/pngwriter.h"
#include "output/savefile.h"

namespace {

const char formatName[] = "peltrix-project";

// --- Writing: a fixed key order and one dab per line, so that the file reads well and the
// same project always gives the same bytes.

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonNumber(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1();
}

QByteArray jsonBool(bool value)
{
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

QByteArray colourText(QRgb colour)
{
    return QStringLiteral("#%1").arg(colour, 8, 16, QLatin1Char('0')).toUpper().toLatin1();
}

QByteArray encodedAlpha(const QImage &alpha)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!writePng(alpha, buffer))
        return QByteArray();
    return png.toBase64();
}

// --- Reading: each value checked where it is taken, the reason naming the field.

class Reader
{
public:
    QString error;

    bool fail(const QString &field, const QString &reason)
    {
        if (error.isEmpty())
            error = QStringLiteral("%1: %2").arg(field, reason);
        return false;
    }

    bool object(const QJsonValue &value, const QString &field, QJsonObject &out)
    {
        if (!value.isObject())
            return fail(field, QStringLiteral("expected an object"));
        out = value.toObject();
        return true;
    }

    bool boolean(const QJsonObject &in, const QString &key, const QString &field, bool &out)
    {
        const QJsonValue value = in.value(key);
        if (!value.isBool())
            return fail(field, QStringLiteral("expected true or false"));
        out = value.toBool();
        return true;
    }

    bool number(const QJsonValue &value, const QString &field, double &out)
    {
        if (!value.isDouble() || !std::isfinite(value.toDouble()))
            return fail(field, QStringLiteral("expected a number"));
        out = value.toDouble();
        return true;
    }

    bool integer(const QJsonValue &value, const QString &field, qint64 lowest, qint64 highest, qint64 &out)
    {
        const double number = value.toDouble();
        if (!value.isDouble() || !std::isfinite(number) || std::trunc(number) != number
            || number < double(lowest) || number > double(highest))
            return fail(field, QStringLiteral("expected a whole number from %1 to %2").arg(lowest).arg(highest));
        out = qint64(number);
        return true;
    }

    bool integer(const QJsonValue &value, const QString &field, int lowest, int highest, int &out)
    {
        qint64 wide = 0;
        if (!integer(value, field, qint64(lowest), qint64(highest), wide))
            return false;
        out = int(wide);
        return true;
    }

    bool path(const QJsonValue &value, const QString &field, QString &out)
    {
        const QString text = value.toString();
        if (!value.isString() || text.isEmpty() || text.size() > ProjectLimits::longestPath
            || text.contains(QChar(0)))
            return fail(field, QStringLiteral("expected a file path"));
        out = text;
        return true;
    }

    bool sha256(const QJsonValue &value, const QString &field, QByteArray &out)
    {
        const QByteArray text = value.toString().toLatin1().toLower();
        bool hex = value.isString() && value.toString().size() == 64;
        for (const char c : text)
            hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        if (!hex)
            return fail(field, QStringLiteral("expected 64 hexadecimal digits"));
        out = text;
        return true;
    }

    bool colour(const QJsonValue &value, const QString &field, QRgb &out)
    {
        const QString text = value.toString();
        bool ok = value.isString() && text.size() == 9 && text.startsWith(QLatin1Char('#'));
        const uint parsed = ok ? text.mid(1).toUInt(&ok, 16) : 0;
        if (!ok)
            return fail(field, QStringLiteral("expected a colour #AARRGGBB"));
        out = parsed;
        return true;
    }

    bool photo(const QJsonValue &value, CutProject &p)
    {
        QJsonObject o;
        qint64 width = 0;
        qint64 height = 0;
        if (!object(value, QStringLiteral("photo"), o) || !path(o.value(QLatin1String("path")), QStringLiteral("photo.path"), p.photoPath)
            || !sha256(o.value(QLatin1String("sha256")), QStringLiteral("photo.sha256"), p.photoSha256)
            || !integer(o.value(QLatin1String("width")), QStringLiteral("photo.width"), 1, ProjectLimits::mostPhotoPixels, width)
            || !integer(o.value(QLatin1String("height")), QStringLiteral("photo.height"), 1, ProjectLimits::mostPhotoPixels, height))
            return false;
        if (width * height > ProjectLimits::mostPhotoPixels)
            return fail(QStringLiteral("photo"), QStringLiteral("%1 x %2 is more than %3 pixels")
                                                     .arg(width).arg(height).arg(ProjectLimits::mostPhotoPixels));
        p.photoSize = QSize(int(width), int(height));
        return true;
    }

    bool settings(const QJsonValue &value, CutProject &p)
    {
        QJsonObject o;
        return object(value, QStringLiteral("settings"), o)
               && boolean(o, QStringLiteral("smoothEdges"), QStringLiteral("settings.smoothEdges"), p.smoothEdges)
               && integer(o.value(QLatin1String("gaussSize")), QStringLiteral("settings.gaussSize"),
                          std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), p.gaussSize)
               && boolean(o, QStringLiteral("refineEdges"), QStringLiteral("settings.refineEdges"), p.refineEdges)
               && isolation(o.value(QLatin1String("isolation")), p.isolation);
    }

    // Projects written before there was a choice hold none: theirs was the colour clusters.
    bool isolation(const QJsonValue &value, IsolationMethod &method)
    {
        if (value.isUndefined())
            return true;
        const std::optional<IsolationMethod> named = isolationMethodFromName(value.toString());
        if (!value.isString() || !named)
            return fail(QStringLiteral("settings.isolation"), QStringLiteral("is neither \"clusters\" nor \"precise\""));
        method = *named;
        return true;
    }

    bool background(const QJsonValue &value, CutProject &p)
    {
        QJsonObject o;
        if (!object(value, QStringLiteral("background"), o)
            || !colour(o.value(QLatin1String("colour")), QStringLiteral("background.colour"), p.backgroundColour)
            || !number(o.value(QLatin1String("zoom")), QStringLiteral("background.zoom"), p.backgroundZoom))
            return false;
        if (p.backgroundZoom <= 0)
            return fail(QStringLiteral("background.zoom"), QStringLiteral("expected a number above 0"));
        const QJsonValue picture = o.value(QLatin1String("picture"));
        if (picture.isNull() || picture.isUndefined())
            return true;
        QJsonObject source;
        return object(picture, QStringLiteral("background.picture"), source)
               && path(source.value(QLatin1String("path")), QStringLiteral("background.picture.path"), p.backgroundPath)
               && sha256(source.value(QLatin1String("sha256")), QStringLiteral("background.picture.sha256"),
                         p.backgroundSha256);
    }

    bool offset(const QJsonValue &value, CutProject &p)
    {
        const QJsonArray pair = value.toArray();
        int x = 0;
        int y = 0;
        if (!value.isArray() || pair.size() != 2)
            return fail(QStringLiteral("objectOffset"), QStringLiteral("expected [X, Y]"));
        const int lowest = std::numeric_limits<int>::min();
        const int highest = std::numeric_limits<int>::max();
        if (!integer(pair.at(0), QStringLiteral("objectOffset[0]"), lowest, highest, x)
            || !integer(pair.at(1), QStringLiteral("objectOffset[1]"), lowest, highest, y))
            return false;
        p.objectOffset = QPoint(x, y);
        return true;
    }

    bool dabs(const QJsonValue &value, CutProject &p)
    {
        if (!value.isArray())
            return fail(QStringLiteral("dabs"), QStringLiteral("expected a list"));
        const QJsonArray list = value.toArray();
        if (list.size() > ProjectLimits::mostDabs)
            return fail(QStringLiteral("dabs"), QStringLiteral("more than %1 dabs").arg(ProjectLimits::mostDabs));
        p.dabs.reserve(list.size());
        for (qsizetype i = 0; i < list.size(); ++i) {
            const QString field = QStringLiteral("dabs[%1]").arg(i);
            const QJsonArray entry = list.at(i).toArray();
            const QString kind = entry.at(0).toString();
            if (!list.at(i).isArray() || entry.size() != 4
                || (kind != QLatin1String("keep") && kind != QLatin1String("remove") && kind != QLatin1String("edge")))
                return fail(field, QStringLiteral("expected [\"keep\", \"remove\" or \"edge\", X, Y, SIZE]"));
            double x = 0;
            double y = 0;
            int size = 0;
            if (!number(entry.at(1), field + QStringLiteral(" X"), x) || !number(entry.at(2), field + QStringLiteral(" Y"), y)
                || !integer(entry.at(3), field + QStringLiteral(" SIZE"), 0, 255, size))
                return false;
            const QRectF square(x, y, size, size);
            p.dabs.append(kind == QLatin1String("edge") ? MarkerDab::edgeDab(square)
                                                        : MarkerDab{kind == QLatin1String("keep"), square});
        }
        return true;
    }

    bool edits(const QJsonValue &value, CutProject &p)
    {
        if (value.isNull() || value.isUndefined())
            return true;
        const QString field = QStringLiteral("brushEdits");
        QJsonObject o;
        if (!object(value, field, o))
            return false;
        if (!p.preview)
            return fail(field, QStringLiteral("brush edits belong to the preview, but the view is \"markers\""));
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        const QSize photo = p.photoSize;
        if (!integer(o.value(QLatin1String("x")), field + QStringLiteral(".x"), 0, photo.width() - 1, x)
            || !integer(o.value(QLatin1String("y")), field + QStringLiteral(".y"), 0, photo.height() - 1, y)
            || !integer(o.value(QLatin1String("width")), field + QStringLiteral(".width"), 1, photo.width() - x, width)
            || !integer(o.value(QLatin1String("height")), field + QStringLiteral(".height"), 1, photo.height() - y, height))
            return false;
        const QJsonValue encoded = o.value(QLatin1String("alphaPng"));
        QByteArray::FromBase64Result png =
            QByteArray::fromBase64Encoding(encoded.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!encoded.isString() || !png)
            return fail(field + QStringLiteral(".alphaPng"), QStringLiteral("expected a PNG picture in base64"));

        QBuffer buffer(&png.decoded);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "png");
        reader.setDecideFormatFromContent(false);
        // Its size is checked before a single pixel is decoded.
        if (reader.size() != QSize(width, height))
            return fail(field + QStringLiteral(".alphaPng"),
                        QStringLiteral("expected a %1 x %2 PNG picture").arg(width).arg(height));
        const QImage alpha = reader.read();
        if (alpha.isNull() || alpha.size() != QSize(width, height))
            return fail(field + QStringLiteral(".alphaPng"), QStringLiteral("the PNG picture is damaged (%1)").arg(reader.errorString()));
        p.edits.area = QRect(x, y, width, height);
        p.edits.alpha = alpha.convertToFormat(QImage::Format_Grayscale8);
        return true;
    }
};

} // namespace

QByteArray projectJson(const CutProject &p)
{
    QByteArray out;
    out += "{\n";
    out += "  \"format\": \"" + QByteArray(formatName) + "\",\n";
    out += "  \"version\": " + QByteArray::number(projectFormatVersion) + ",\n";
    out += "  \"photo\": {\"path\": " + jsonString(p.photoPath) + ", \"sha256\": \"" + p.photoSha256
           + "\", \"width\": " + QByteArray::number(p.photoSize.width())
           + ", \"height\": " + QByteArray::number(p.photoSize.height()) + "},\n";
    out += "  \"settings\": {\"smoothEdges\": " + jsonBool(p.smoothEdges)
           + ", \"gaussSize\": " + QByteArray::number(p.gaussSize)
           + ", \"refineEdges\": " + jsonBool(p.refineEdges)
           + ", \"isolation\": \"" + isolationMethodName(p.isolation).toLatin1() + "\"},\n";
    out += "  \"background\": {\"colour\": \"" + colourText(p.backgroundColour) + "\", \"picture\": ";
    if (p.backgroundPath.isEmpty())
        out += "null";
    else
        out += "{\"path\": " + jsonString(p.backgroundPath) + ", \"sha256\": \"" + p.backgroundSha256 + "\"}";
    out += ", \"zoom\": " + jsonNumber(p.backgroundZoom) + "},\n";
    out += "  \"objectOffset\": [" + QByteArray::number(p.objectOffset.x()) + ", "
           + QByteArray::number(p.objectOffset.y()) + "],\n";
    out += "  \"view\": \"" + QByteArray(p.preview ? "preview" : "markers") + "\",\n";
    out += "  \"brushEdits\": ";
    if (p.edits.isEmpty()) {
        out += "null";
    } else {
        const QRect a = p.edits.area;
        const QByteArray png = encodedAlpha(p.edits.alpha);
        if (png.isEmpty())
            return QByteArray();
        out += "{\"x\": " + QByteArray::number(a.x()) + ", \"y\": " + QByteArray::number(a.y())
               + ", \"width\": " + QByteArray::number(a.width()) + ", \"height\": " + QByteArray::number(a.height())
               + ", \"alphaPng\": \"" + png + "\"}";
    }
    out += ",\n  \"dabs\": [";
    for (qsizetype i = 0; i < p.dabs.size(); ++i) {
        const MarkerDab &dab = p.dabs.at(i);
        out += i == 0 ? "\n    [" : ",\n    [";
        out += dab.edge ? "\"edge\", " : dab.keep ? "\"keep\", " : "\"remove\", ";
        out += jsonNumber(dab.rect.x()) + ", " + jsonNumber(dab.rect.y()) + ", "
               + QByteArray::number(int(dab.rect.width())) + "]";
    }
    out += p.dabs.isEmpty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

bool readProject(const QByteArray &bytes, CutProject &project, QString &error)
{
    if (bytes.size() > ProjectLimits::largestFileBytes) {
        error = QStringLiteral("larger than %1 MiB").arg(ProjectLimits::largestFileBytes >> 20);
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (document.isNull()) {
        error = QStringLiteral("not a project (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    const QJsonObject top = document.object();
    if (!document.isObject() || top.value(QLatin1String("format")).toString() != QLatin1String(formatName)) {
        error = QStringLiteral("not a project (no \"format\": \"%1\")").arg(QLatin1String(formatName));
        return false;
    }

    Reader r;
    CutProject p;
    int version = 0;
    if (!r.integer(top.value(QLatin1String("version")), QStringLiteral("version"), 1,
                   std::numeric_limits<int>::max(), version)) {
        error = r.error;
        return false;
    }
    if (version > projectFormatVersion) {
        error = QStringLiteral("written by a newer version of the program (format version %1; this one reads "
                               "up to %2)").arg(version).arg(projectFormatVersion);
        return false;
    }
    const QString view = top.value(QLatin1String("view")).toString();
    if (view != QLatin1String("preview") && view != QLatin1String("markers"))
        r.fail(QStringLiteral("view"), QStringLiteral("expected \"preview\" or \"markers\""));
    p.preview = view == QLatin1String("preview");
    const bool read = r.error.isEmpty() && r.photo(top.value(QLatin1String("photo")), p)
                      && r.settings(top.value(QLatin1String("settings")), p)
                      && r.background(top.value(QLatin1String("background")), p)
                      && r.offset(top.value(QLatin1String("objectOffset")), p)
                      && r.edits(top.value(QLatin1String("brushEdits")), p)
                      && r.dabs(top.value(QLatin1String("dabs")), p);
    if (!read) {
        error = r.error;
        return false;
    }
    project = std::move(p);
    return true;
}

bool readProjectFile(const QString &path, CutProject &project, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    if (file.size() > ProjectLimits::largestFileBytes) {
        error = QStringLiteral("larger than %1 MiB").arg(ProjectLimits::largestFileBytes >> 20);
        return false;
    }
    const QByteArray bytes = file.read(ProjectLimits::largestFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    CutProject read;
    if (!readProject(bytes, read, error))
        return false;
    // A hand-written project may name its pictures relative to itself.
    const QDir folder = QFileInfo(path).absoluteDir();
    read.photoPath = QDir::cleanPath(folder.absoluteFilePath(read.photoPath));
    if (!read.backgroundPath.isEmpty())
        read.backgroundPath = QDir::cleanPath(folder.absoluteFilePath(read.backgroundPath));
    project = std::move(read);
    return true;
}

bool writeProjectFile(const QString &path, const CutProject &project, QString *error)
{
    if (project.dabs.size() > ProjectLimits::mostDabs) {
        if (error)
            *error = QStringLiteral("more than %1 dabs").arg(ProjectLimits::mostDabs);
        return false;
    }
    // The new file exists from here on; the one at `path` is replaced only by a complete one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = projectJson(project);
    if (bytes.isEmpty()) {
        if (error)
            *error = QStringLiteral("not enough memory for the brush edits");
        file.cancelWriting();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return commitComplete(file, error);
}

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return QByteArray();
    return hash.result().toHex();
}

BrushEdits captureEdits(const QImage &cutout, const QRect &area)
{
    BrushEdits edits;
    edits.area = area & cutout.rect();
    if (edits.area.isEmpty() || cutout.format() != QImage::Format_ARGB32) {
        edits.area = QRect();
        return edits;
    }
    edits.alpha = QImage(edits.area.size(), QImage::Format_Grayscale8);
    if (edits.alpha.isNull()) {
        edits.area = QRect();
        return edits;
    }
    for (int y = 0; y < edits.area.height(); ++y) {
        const QRgb *from = reinterpret_cast<const QRgb *>(cutout.constScanLine(edits.area.top() + y)) + edits.area.left();
        uchar *to = edits.alpha.scanLine(y);
        for (int x = 0; x < edits.area.width(); ++x)
            to[x] = uchar(qAlpha(from[x]));
    }
    return edits;
}

BrushEdits narrowedEdits(const BrushEdits &edits, const QImage &matte)
{
    if (edits.isEmpty() || matte.format() != QImage::Format_ARGB32 || !matte.rect().contains(edits.area))
        return edits;
    // The matte keeps 255 - alpha in its blue byte.
    int left = edits.area.width();
    int right = -1;
    int top = edits.area.height();
    int bottom = -1;
    for (int y = 0; y < edits.area.height(); ++y) {
        const QRgb *made = reinterpret_cast<const QRgb *>(matte.constScanLine(edits.area.top() + y)) + edits.area.left();
        const uchar *alpha = edits.alpha.constScanLine(y);
        for (int x = 0; x < edits.area.width(); ++x) {
            if (alpha[x] == 255 - qBlue(made[x]))
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = y;
        }
    }
    if (right < 0)
        return BrushEdits();
    const QRect inside(QPoint(left, top), QPoint(right, bottom));
    BrushEdits narrowed;
    narrowed.area = inside.translated(edits.area.topLeft());
    narrowed.alpha = edits.alpha.copy(inside);
    return narrowed;
}

bool applyEdits(QImage &cutout, const BrushEdits &edits)
{
    if (edits.isEmpty())
        return true;
    if (!cutout.rect().contains(edits.area) || edits.alpha.size() != edits.area.size()
        || edits.alpha.format() != QImage::Format_Grayscale8)
        return false;
    if (cutout.format() != QImage::Format_ARGB32)
        cutout.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < edits.area.height(); ++y) {
        QRgb *to = reinterpret_cast<QRgb *>(cutout.scanLine(edits.area.top() + y)) + edits.area.left();
        const uchar *alpha = edits.alpha.constScanLine(y);
        for (int x = 0; x < edits.area.width(); ++x)
            to[x] = (to[x] & RGB_MASK) | (QRgb(alpha[x]) << 24);
    }
    return true;
}
