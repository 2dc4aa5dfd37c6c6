#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <QString>

#include "isolation/markers.h"
#include "session/cutsession.h"

// A cut project: what a cut is made of, so that it can be made again. The photo and a
// background picture are named by path and SHA-256 of their bytes, never stored; the dabs,
// the cut's settings, the background and the object's place are stored as they are, and the
// brushes' edits as the cut-out's alpha over the rectangle where it may differ from the
// matte's. The file is JSON (docs/project-format.md); every value read is checked, so that a
// damaged or hand-edited file is refused with a reason and never half applied.

// The format version written; readers refuse a file of a later one.
constexpr int projectFormatVersion = 1;
// Projects are written with this suffix.
inline QString projectSuffix() { return QStringLiteral("peltrix"); }

// The cut-out's alpha over `area` (picture coordinates), 8-bit grey; null alpha: no edits.
struct BrushEdits
{
    QRect area;
    QImage alpha; // Format_Grayscale8, area.size()

    bool isEmpty() const { return alpha.isNull(); }
};

struct CutProject
{
    QString photoPath;      // absolute
    QByteArray photoSha256; // 64 lower-case hex digits
    QSize photoSize;

    QList<MarkerDab> dabs; // drawing order

    bool smoothEdges = true;
    int gaussSize = 5;
    bool refineEdges = false;
    IsolationMethod isolation = IsolationMethod::ColourClusters;

    QRgb backgroundColour = CutSession::defaultBackgroundColour;
    QString backgroundPath; // empty: the colour
    QByteArray backgroundSha256;
    double backgroundZoom = 1.0;
    QPoint objectOffset;

    // Whether the preview was shown; brush edits exist only then.
    bool preview = false;
    BrushEdits edits;
};

// The bounds the reader holds every file to; a writer never exceeds them.
namespace ProjectLimits {
constexpr qint64 largestFileBytes = 512LL * 1024 * 1024;
constexpr qsizetype mostDabs = 2'000'000;
constexpr qint64 mostPhotoPixels = 100'000'000; // what the picture reader opens
constexpr qsizetype longestPath = 4096;
} // namespace ProjectLimits

// The project as the file's bytes; empty when the edits' picture could not be encoded. The
// alpha of the edits is encoded here, which takes a while for large edits: the autosave calls
// this off the window's thread.
QByteArray projectJson(const CutProject &project);

// Parses and checks a project; on failure returns false with a one-line reason in `error`
// and leaves `project` untouched.
bool readProject(const QByteArray &bytes, CutProject &project, QString &error);
bool readProjectFile(const QString &path, CutProject &project, QString &error);

// Writes the project to `path` as one step: a new file written whole, flushed to disk, then
// renamed over the old one, so that a crash leaves the old file or the new one. A project
// beyond the reader's bounds is refused.
bool writeProjectFile(const QString &path, const CutProject &project, QString *error = nullptr);

// SHA-256 of a file's bytes in lower-case hex; empty when it cannot be read.
QByteArray fileSha256(const QString &path);

// The alpha of `cutout` over `area` (clipped to the picture); the brushes' edits as they stand.
BrushEdits captureEdits(const QImage &cutout, const QRect &area);
// The same edits narrowed to the pixels whose alpha differs from what `matte` gives
// (255 - its blue byte); empty when none does. `matte` must be the cut-out's own.
BrushEdits narrowedEdits(const BrushEdits &edits, const QImage &matte);
// Writes the edits' alpha into `cutout` (ARGB32, not premultiplied); false when the area does
// not lie within the picture, which is then unchanged.
bool applyEdits(QImage &cutout, const BrushEdits &edits);
