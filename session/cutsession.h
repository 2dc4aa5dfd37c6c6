#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRgb>
#include <QSize>
#include <QString>

#include <map>

#include "analysis/analysis.h"
#include "analysis/colorclusters.h"
#include "analysis/progress.h"
#include "isolation/isolation.h"
#include "isolation/markers.h"
#include "isolation/precise.h"

// One cut: the photo, its colour analysis, the user's dabs, and everything derived from
// them up to the exported picture. The window and peltrix-cut both drive the pipeline
// through it, so the two cannot drift apart.
//
// Results are recorded as current or stale: a change of dabs makes the isolation stale, a
// change of smoothing makes the matte stale, and asking for a stale result recomputes it.
// The cut-out is the exception: it holds the brushes' edits, so only dropCutout() and a new
// photo take it away.
class CutSession
{
public:
    using DabId = quint64;

    // The preview's background until the user chooses one: white, fully transparent.
    static constexpr QRgb defaultBackgroundColour = 0x00FFFFFF;

    CutSession();
    CutSession(const CutSession &) = delete;
    CutSession &operator=(const CutSession &) = delete;

    // --- The photo
    // Drops the dabs, the keep pixels, the cut-out and the object's offset, then reads the
    // picture through the shared reader. On failure the previous photo and its analysis
    // stay, and `error` says why.
    bool open(const QString &path, QString *error = nullptr);
    // Starts a cut on a picture already in memory (converted to ARGB32); not yet analysed.
    void setPhoto(const QImage &photo);
    const QImage &photo() const { return photoImage; }
    // The file the photo was last opened from (empty for a photo set in memory).
    const QString &photoPath() const { return path; }
    QSize size() const { return photoSize; }

    // --- The colour analysis (30 clusters and a label per pixel)
    void analyse(const AnalysisHooks &hooks = {});
    const CColorClusters &clusters() const { return colorClusters; }
    const QImage &labelMap() const { return labels; }

    // --- The dabs, in drawing order (keep, remove and edge dabs alike; an edge dab marks
    // its square for the matte to solve: see buildMatte)
    DabId addDab(const MarkerDab &dab);
    bool removeDab(DabId id); // false when there is no such dab
    // Puts a removed dab back under its old id, so it keeps its place in the drawing order;
    // false when that id is taken.
    bool putBackDab(DabId id, const MarkerDab &dab);
    const MarkerDab *findDab(DabId id) const; // null when there is no such dab
    QList<DabId> setDabs(const QList<MarkerDab> &drawingOrder);
    // The dabs with their ids, and putting such a list back (ids included) in place of all.
    struct DabEntry
    {
        DabId id;
        MarkerDab dab;
    };
    QList<DabEntry> dabEntries() const;
    void restoreDabs(const QList<DabEntry> &entries);
    void clearDabs();
    QList<MarkerDab> dabs() const;
    qsizetype dabCount() const { return qsizetype(dabMap.size()); }
    // Clearly painted pixels of a picture of the photo's size, counted after every dab.
    void setMarkerPicture(const QImage &picture);
    // Whether any keep dab or keep pixel lies on the photo (with a trimap: any object pixel).
    bool hasKeepMarker() const;
    // Changes whenever the marks change (dabs, marker picture, a new photo).
    quint64 marksGeneration() const { return marksChanges; }

    // --- Or a trimap instead of the marks: a picture of the photo's size whose white pixels
    // (255 in each channel) are the object, black ones the background, and all others
    // unknown, their alpha solved whatever the matte settings. While one is set the marks
    // are not read and no analysis is needed; a null picture goes back to the marks. False
    // (and nothing changes) for a picture of another size.
    bool setTrimap(const QImage &trimap);
    bool hasTrimap() const { return !trimapClasses.isNull(); }

    // --- The isolation
    // Which method isolate() runs (the "ISOLATION" setting; the colour clusters until set).
    // A change makes the isolation stale.
    void setIsolationMethod(IsolationMethod method);
    IsolationMethod isolationMethod() const { return method; }
    // The keep pixels (linear indices y * W + x, column by column) by the chosen method;
    // recomputed only when stale. Dabs whose corner the canvas would not have accepted are
    // left out. The colour clusters analyse the photo first if that has not been done; the
    // precise method reads the photo itself. With a trimap, its object pixels.
    const QList<qint32> &isolate(const IsolationHooks &hooks = {});
    // The same, stage by stage, with each stage's picture: the colour clusters' or the
    // precise method's, whichever is chosen; the keep pixels count as current only when
    // they come from the chosen method (with a trimap: no pictures).
    IsolationStages isolateByStages(const IsolationHooks &hooks = {});
    PreciseStages preciseByStages(const IsolationHooks &hooks = {});
    bool isIsolationCurrent() const { return isolationCurrent; }
    const QList<qint32> &keepPixels() const { return keep; }

    // The isolation as a job of its own: a copy of everything it reads, taken now, run on
    // any thread while the session goes on changing, and its result adopted only if the
    // marks and the analysis are still those it was taken from.
    struct IsolationJob
    {
        IsolationMethod method = IsolationMethod::ColourClusters;
        QImage photo; // the precise method's input
        QImage labels; // the colour clusters' input, with centers
        MarkerSet marks;
        QList<QList<qint16>> centers;
        quint64 marksGeneration = 0;
        quint64 analysisGeneration = 0;
        QList<qint32> run(const IsolationHooks &hooks = {}) const;
        bool isEmpty() const;
    };
    // Empty when the chosen method has nothing to isolate (no photo, or no analysis for the
    // colour clusters).
    IsolationJob isolationJob() const;
    // Takes `keepPixels` as the isolation's result; false (and nothing changes) when the
    // job no longer describes the session.
    bool adoptIsolation(const IsolationJob &job, QList<qint32> keepPixels);
    bool isCurrent(const IsolationJob &job) const;

    // --- The matte (blue byte 255 - opacity, as the preview reads it)
    void setSmoothing(bool smooth, int gaussSize);
    // Refined edges: alpha and foreground colours estimated from the photo near the outline,
    // in place of the smoothing. The pixels under edge dabs are solved either way (the user
    // asked for them); without refinement the rest keeps the smoothing. With no edge dab
    // and refinement off the matte is the smoothed one alone.
    void setRefine(bool refine);
    // The edge treatment asked for last: the one the current cut-out was made with.
    bool smoothsEdges() const { return smooth; }
    int smoothingSize() const { return gaussSize; }
    bool refinesEdges() const { return refine; }
    const QImage &buildMatte(const ProgressCallback &progress = {}, const StageTimer &stageTimer = {});
    bool isMatteCurrent() const;
    const QImage &matte() const { return matteImage; }

    // --- The cut-out: the photo with the matte as alpha (with refined edges, the estimated
    // foreground colours where alpha is fractional), edited by the brushes
    // With `releaseMatte` the matte's memory becomes the cut-out's (a forward run no longer
    // needs it; it is stale afterwards).
    const QImage &buildCutout(bool releaseMatte = false);
    void dropCutout() { cutoutImage = QImage(); }
    QImage &cutout() { return cutoutImage; }
    const QImage &cutout() const { return cutoutImage; }

    // --- Background and placement
    void setBackgroundColour(QRgb colour); // also drops a background picture
    void setBackgroundPicture(const QImage &picture);
    QRgb backgroundColour() const { return colour; }
    const QImage &backgroundPicture() const { return picture; }
    // The zoom of a background picture: a factor on the size it is shown at.
    void setBackgroundZoom(double zoom) { zoomFactor = zoom; }
    void zoomBackground(double factor) { zoomFactor *= factor; }
    double backgroundZoom() const { return zoomFactor; }
    // The object's offset stays within +-largestOffset in each direction: far enough for
    // the object to leave any background entirely (a picture's side is at most 100 million
    // pixels) and come back, near enough that adding a picture's size to it never overflows.
    static constexpr int largestOffset = 1 << 30;
    QPoint objectOffset() const { return offset; }
    void setObjectOffset(QPoint position);
    // Moves the object by `step`, stopping at the bound.
    void moveObject(qint64 dx, qint64 dy);

    // The preview's background: the photo's size for a colour, a picture fitted into it.
    QSize backgroundSize() const;
    // The background as the preview shows it over an area of `size` (the photo's size): a
    // colour over the chessboard, or the picture fitted into it.
    QImage previewBackground(QSize size) const;
    // The size the export starts from: the background picture's, else the photo's.
    QSize exportStartSize() const;
    // The picture the export writes at `size`: the background at its displayed size (zoom
    // included) scaled to `size`, the cut-out and its offset scaled with it. Null when there
    // is nothing to compose.
    QImage exportImage(QSize size, const StageTimer &stageTimer = {}) const;

    // Memory for a run that only goes forward (peltrix-cut): each drops a result that later
    // steps no longer read. A dropped result is stale and would be recomputed if asked for.
    void releaseAnalysis();
    void releaseKeepPixels();
    void releasePhoto(); // the size stays: the background and the export still need it

private:
    void dabsChanged();
    MarkerSet markerSet() const;

    QString path;
    QImage photoImage;
    QSize photoSize; // kept when the photo itself is released
    CColorClusters colorClusters;
    QImage labels;
    bool analysed = false;
    quint64 analyses = 0; // counts analyses, so that a job knows its own

    std::map<DabId, MarkerDab> dabMap; // ids grow, so the map's order is the drawing order
    DabId nextDab = 1;
    QImage markerPicture;
    quint64 marksChanges = 0;
    QImage trimapClasses; // Grayscale8: 255 object, 0 background, 128 unknown; or null

    IsolationMethod method = IsolationMethod::ColourClusters;
    QList<qint32> keep;
    bool isolationCurrent = false;
    quint64 keepGeneration = 0; // counts replacements of `keep`

    bool smooth = false;
    int gaussSize = 0;
    bool refine = false;
    QImage matteImage;
    QImage refinedColours; // the cut-out that goes with a refined matte
    quint64 matteFromGeneration = 0;
    bool matteSmooth = false;
    int matteGaussSize = 0;
    bool matteRefined = false;

    QImage cutoutImage;

    QRgb colour = defaultBackgroundColour;
    QImage picture;
    double zoomFactor = 1.0;
    QPoint offset;
};
