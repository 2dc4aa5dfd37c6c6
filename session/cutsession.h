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

    // --- Or a trimap instead of the marks: a picture of the photo's size whose white pixels
    // (255 in each channel) are the object, black ones the background, and all others
    // unknown, their alpha solved whatever the matte settings. While one is set the marks
    // are not read and no analysis is needed; a null picture goes back to the marks. False
    // (and nothing changes) for a picture of another size.
    bool setTrimap(const QImage &trimap);
    bool hasTrimap() const { return !trimapClasses.isNull(); }

    // --- The isolation
    // The keep pixels (linear indices y * W + x, column by column); recomputed only when
    // stale. Dabs whose corner the canvas would not have accepted are left out. With a
    // trimap, its object pixels.
    const QList<qint32> &isolate(const IsolationHooks &hooks = {});
    // The same, stage by stage, with each stage's picture (with a trimap: none).
    IsolationStages isolateByStages(const IsolationHooks &hooks = {});
    bool isIsolationCurrent() const { return isolationCurrent; }
    const QList<qint32> &keepPixels() const { return keep; }

    // --- The matte (blue byte 255 - opacity, as the preview reads it)
    void setSmoothing(bool smooth, int gaussSize);
    // Refined edges: alpha and foreground colours estimated from the photo near the outline,
    // in place of the smoothing. The pixels under edge dabs are solved either way (the user
    // asked for them); without refinement the rest keeps the smoothing. With no edge dab
    // and refinement off the matte is the smoothed one alone.
    void setRefine(bool refine);
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
    QPoint objectOffset() const { return offset; }
    void setObjectOffset(QPoint position) { offset = position; }

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

    std::map<DabId, MarkerDab> dabMap; // ids grow, so the map's order is the drawing order
    DabId nextDab = 1;
    QImage markerPicture;
    QImage trimapClasses; // Grayscale8: 255 object, 0 background, 128 unknown; or null

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
