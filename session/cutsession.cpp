#include "session/cutsession.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QPainter>

#include <algorithm>

#include "session/toolsettings.h"
#include "analysis/diagnostics.h"
#include "output/display.h"
#include "output/exportcompose.h"
#include "output/matte.h"
#include "output/pictureio.h"
#include "output/refine.h"

namespace {

// The object pixels of a trimap's classes, column by column as the isolation lists them.
QList<qint32> trimapObject(const QImage &classes)
{
    QList<qint32> object;
    const int W = classes.width();
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < classes.height(); ++y) {
            if (classes.constScanLine(y)[x] == 255)
                object.append(y * W + x);
        }
    }
    return object;
}

QImage trimapUnknown(const QImage &classes)
{
    QImage unknown(classes.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < classes.height(); ++y) {
        const uchar *in = classes.constScanLine(y);
        uchar *out = unknown.scanLine(y);
        for (int x = 0; x < classes.width(); ++x)
            out[x] = in[x] == 128 ? 255 : 0;
    }
    return unknown;
}

} // namespace

// Outside any namespace, as Qt's resource macro wants.
static void initChessboard()
{
    Q_INIT_RESOURCE(chessboard);
}

CutSession::CutSession()
{
    const ToolSettings defaults = ToolSettings::defaults();
    smooth = defaults.smoothEdges;
    gaussSize = defaults.gaussSize;
    refine = defaults.refineEdges;
    method = defaults.isolation;
}

bool CutSession::open(const QString &file, QString *error)
{
    clearDabs();
    keep.clear();
    ++keepGeneration;
    dropCutout();
    offset = QPoint(0, 0);

    const QImage read = readPicture(file, error);
    if (read.isNull())
        return false;
    setPhoto(read);
    path = file;
    return true;
}

void CutSession::setPhoto(const QImage &photo)
{
    photoImage = photo.format() == QImage::Format_ARGB32 ? photo : photo.convertToFormat(QImage::Format_ARGB32);
    photoSize = photoImage.size();
    path.clear();
    analysed = false;
    labels = QImage();
    markerPicture = QImage();
    trimapClasses = QImage();
    clearDabs();
    keep.clear();
    ++keepGeneration;
    matteImage = QImage();
    refinedColours = QImage();
    dropCutout();
    offset = QPoint(0, 0);
}

void CutSession::analyse(const AnalysisHooks &hooks)
{
    if (photoImage.isNull())
        return;
    analysePicture(photoImage, colorClusters, labels, hooks);
    analysed = true;
    ++analyses;
    isolationCurrent = false;
}

CutSession::DabId CutSession::addDab(const MarkerDab &dab)
{
    const DabId id = nextDab++;
    dabMap.emplace(id, dab);
    dabsChanged();
    return id;
}

bool CutSession::removeDab(DabId id)
{
    if (dabMap.erase(id) == 0)
        return false;
    dabsChanged();
    return true;
}

bool CutSession::putBackDab(DabId id, const MarkerDab &dab)
{
    if (!dabMap.emplace(id, dab).second)
        return false;
    nextDab = std::max(nextDab, id + 1);
    dabsChanged();
    return true;
}

const MarkerDab *CutSession::findDab(DabId id) const
{
    const auto found = dabMap.find(id);
    return found == dabMap.end() ? nullptr : &found->second;
}

QList<CutSession::DabId> CutSession::setDabs(const QList<MarkerDab> &drawingOrder)
{
    dabMap.clear();
    QList<DabId> ids;
    ids.reserve(drawingOrder.size());
    for (const MarkerDab &dab : drawingOrder) {
        dabMap.emplace_hint(dabMap.end(), nextDab, dab);
        ids.append(nextDab++);
    }
    dabsChanged();
    return ids;
}

QList<CutSession::DabEntry> CutSession::dabEntries() const
{
    QList<DabEntry> entries;
    entries.reserve(qsizetype(dabMap.size()));
    for (const auto &entry : dabMap)
        entries.append({entry.first, entry.second});
    return entries;
}

void CutSession::restoreDabs(const QList<DabEntry> &entries)
{
    dabMap.clear();
    for (const DabEntry &entry : entries) {
        dabMap.emplace(entry.id, entry.dab);
        nextDab = std::max(nextDab, entry.id + 1);
    }
    dabsChanged();
}

void CutSession::clearDabs()
{
    dabMap.clear();
    dabsChanged();
}

QList<MarkerDab> CutSession::dabs() const
{
    QList<MarkerDab> drawingOrder;
    drawingOrder.reserve(qsizetype(dabMap.size()));
    for (const auto &entry : dabMap)
        drawingOrder.append(entry.second);
    return drawingOrder;
}

void CutSession::setMarkerPicture(const QImage &picture)
{
    markerPicture = picture;
    dabsChanged();
}

void CutSession::dabsChanged()
{
    isolationCurrent = false;
    ++marksChanges;
}

MarkerSet CutSession::markerSet() const
{
    MarkerSet markers;
    const QSizeF area(photoSize);
    markers.newestFirst.reserve(qsizetype(dabMap.size()));
    // The scene stacks the newest dab on top, and the isolation has always read it first.
    for (auto it = dabMap.rbegin(); it != dabMap.rend(); ++it) {
        if (dabCornerAccepted(it->second.rect.topLeft(), area))
            markers.newestFirst.append(it->second);
    }
    markers.picture = markerPicture;
    return markers;
}

bool CutSession::hasKeepMarker() const
{
    if (hasTrimap())
        return !trimapObject(trimapClasses).isEmpty();
    return markerSetHasKeepPoint(markerSet(), photoSize.width(), photoSize.height());
}

void CutSession::setIsolationMethod(IsolationMethod chosen)
{
    if (chosen == method)
        return;
    method = chosen;
    isolationCurrent = false;
}

bool CutSession::setTrimap(const QImage &trimap)
{
    if (!trimap.isNull() && trimap.size() != photoSize)
        return false;
    trimapClasses = QImage();
    if (!trimap.isNull()) {
        const QImage argb = trimap.convertToFormat(QImage::Format_ARGB32);
        trimapClasses = QImage(argb.size(), QImage::Format_Grayscale8);
        for (int y = 0; y < argb.height(); ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
            uchar *out = trimapClasses.scanLine(y);
            for (int x = 0; x < argb.width(); ++x) {
                const QRgb c = in[x] & 0xFFFFFFu;
                out[x] = c == 0xFFFFFFu ? 255 : c == 0 ? 0 : 128;
            }
        }
    }
    dabsChanged();
    return true;
}

const QList<qint32> &CutSession::isolate(const IsolationHooks &hooks)
{
    if (isolationCurrent)
        return keep;
    if (hasTrimap()) {
        keep = trimapObject(trimapClasses);
        ++keepGeneration;
        isolationCurrent = true;
        return keep;
    }
    if (method == IsolationMethod::ColourClusters && !analysed)
        analyse();
    keep = isolationJob().run(hooks);
    ++keepGeneration;
    isolationCurrent = true;
    return keep;
}

CutSession::IsolationJob CutSession::isolationJob() const
{
    IsolationJob job;
    job.method = method;
    if (hasTrimap())
        return job; // nothing to isolate: the trimap says what is kept
    if (method == IsolationMethod::Precise) {
        if (photoImage.isNull())
            return job;
        job.photo = photoImage;
    } else {
        if (!analysed)
            return job;
        job.labels = labels;
        job.centers = colorClusters.centers();
    }
    job.marks = markerSet();
    job.marksGeneration = marksChanges;
    job.analysisGeneration = analyses;
    return job;
}

QList<qint32> CutSession::IsolationJob::run(const IsolationHooks &hooks) const
{
    if (method == IsolationMethod::Precise)
        return photo.isNull() ? QList<qint32>() : preciseKeepPixels(photo, marks, hooks);
    return labels.isNull() ? QList<qint32>() : isolateKeepPixels(labels, marks, centers, hooks);
}

bool CutSession::IsolationJob::isEmpty() const
{
    return method == IsolationMethod::Precise ? photo.isNull() : labels.isNull();
}

bool CutSession::isCurrent(const IsolationJob &job) const
{
    return !job.isEmpty() && job.method == method && job.marksGeneration == marksChanges
           && job.analysisGeneration == analyses && (method == IsolationMethod::Precise || analysed);
}

bool CutSession::adoptIsolation(const IsolationJob &job, QList<qint32> keepPixels)
{
    if (!isCurrent(job))
        return false;
    if (isolationCurrent)
        return true; // the same marks were isolated meanwhile: keep what the matte was made from
    keep = std::move(keepPixels);
    ++keepGeneration;
    isolationCurrent = true;
    return true;
}

IsolationStages CutSession::isolateByStages(const IsolationHooks &hooks)
{
    if (hasTrimap()) {
        isolationCurrent = false;
        IsolationStages stages;
        stages.keepPixels = isolate(hooks);
        return stages;
    }
    if (!analysed)
        analyse();
    IsolationStages stages = ::isolateByStages(labels, markerSet(), colorClusters.centers(), hooks);
    keep = stages.keepPixels;
    ++keepGeneration;
    isolationCurrent = method == IsolationMethod::ColourClusters;
    return stages;
}

PreciseStages CutSession::preciseByStages(const IsolationHooks &hooks)
{
    PreciseStages stages = ::preciseByStages(photoImage, markerSet(), hooks);
    keep = stages.keepPixels;
    ++keepGeneration;
    isolationCurrent = method == IsolationMethod::Precise;
    return stages;
}

void CutSession::setSmoothing(bool on, int size)
{
    smooth = on;
    gaussSize = size;
}

void CutSession::setRefine(bool on)
{
    refine = on;
}

bool CutSession::isMatteCurrent() const
{
    return isolationCurrent && !matteImage.isNull() && matteFromGeneration == keepGeneration
           && matteSmooth == smooth && matteGaussSize == gaussSize && matteRefined == refine
           && matteImage.size() == photoSize;
}

const QImage &CutSession::buildMatte(const ProgressCallback &progress, const StageTimer &stageTimer)
{
    if (isMatteCurrent())
        return matteImage;
    RefineRegion region;
    if (hasTrimap()) {
        region.painted = trimapUnknown(trimapClasses);
        region.band = false;
    } else {
        region.painted = edgeDabMask(markerSet().newestFirst, photoSize.width(), photoSize.height());
        region.band = refine;
    }
    if (!region.band && region.painted.isNull()) {
        matteImage = smoothedMatte(keep, photoSize.width(), photoSize.height(), smooth, gaussSize,
                                   progress, stageTimer);
        refinedColours = QImage();
    } else {
        // Edge dabs without refinement: the smoothed matte around them.
        if (!region.band && !hasTrimap())
            region.outside = smoothedMatte(keep, photoSize.width(), photoSize.height(), smooth, gaussSize);
        RefinedCutout refined = refineEdges(photoImage, keep, region, progress, stageTimer);
        matteImage = std::move(refined.matte);
        refinedColours = std::move(refined.cutout);
    }
    matteFromGeneration = keepGeneration;
    matteSmooth = smooth;
    matteGaussSize = gaussSize;
    matteRefined = refine;
    return matteImage;
}

const QImage &CutSession::buildCutout(bool releaseMatte)
{
    // The refined cut-out was made with its matte; the brushes edit a copy of it.
    if (!refinedColours.isNull())
        cutoutImage = refinedColours;
    else if (releaseMatte)
        cutoutImage = ::buildCutout(photoImage, std::move(matteImage));
    else
        cutoutImage = ::buildCutout(photoImage, matteImage);
    if (releaseMatte) {
        matteImage = QImage();
        refinedColours = QImage();
    }
    return cutoutImage;
}

void CutSession::setObjectOffset(QPoint position)
{
    moveObject(qint64(position.x()) - offset.x(), qint64(position.y()) - offset.y());
}

void CutSession::moveObject(qint64 dx, qint64 dy)
{
    const auto bounded = [](qint64 v) { return int(std::clamp<qint64>(v, -largestOffset, largestOffset)); };
    offset = QPoint(bounded(offset.x() + dx), bounded(offset.y() + dy));
}

void CutSession::setBackgroundColour(QRgb value)
{
    colour = value;
    picture = QImage();
}

void CutSession::setBackgroundPicture(const QImage &value)
{
    picture = value.isNull() || value.format() == QImage::Format_ARGB32
        ? value
        : value.convertToFormat(QImage::Format_ARGB32);
}

QSize CutSession::backgroundSize() const
{
    const QSize area = photoSize;
    if (picture.isNull() || area.isEmpty())
        return area;
    // What QImage::scaled() gives when it fits the picture into the area.
    QSize fitted = picture.size().scaled(area, Qt::KeepAspectRatio);
    fitted.setWidth(std::max(fitted.width(), 1));
    fitted.setHeight(std::max(fitted.height(), 1));
    return fitted;
}

QImage CutSession::previewBackground(QSize area) const
{
    if (area.isEmpty())
        return QImage();
    if (!picture.isNull())
        return picture.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    initChessboard();
    QImage board = scaledBoard(QImage(QStringLiteral(":/icons/chessbackground.png")), area);
    const int alpha = qAlpha(colour);
    if (alpha == 255) {
        board.fill(colour); // an opaque layer hides the board completely
    } else if (alpha > 0) {
        QImage layer(area, QImage::Format_ARGB32);
        layer.fill(colour);
        QPainter painter(&board);
        painter.drawImage(0, 0, layer);
    }
    return board;
}

QSize CutSession::exportStartSize() const
{
    return picture.isNull() ? photoSize : picture.size();
}

QImage CutSession::exportImage(QSize size, const StageTimer &stageTimer) const
{
    const QSize shown = backgroundSize();
    // The displayed size truncates, as the preview's item reports it; a zoom from a project
    // file may be far beyond what int holds.
    const auto zoomed = [this](int side) { return int(std::clamp(side * zoomFactor, 0.0, 1.0e9)); };
    const QSize displayed(zoomed(shown.width()), zoomed(shown.height()));
    const ExportGeometry g = exportGeometry(displayed, cutoutImage.size(), offset, size);
    if (!g.valid)
        return QImage();
    qCDebug(lcExport) << "x0 y0 x1 y1 x2 y2 " << g.objectOffset.x() << g.objectOffset.y()
                      << g.overlap.left() << g.overlap.top() << g.overlap.right() + 1
                      << g.overlap.bottom() + 1;
    if (!picture.isNull())
        return composeExport(picture, displayed, cutoutImage, offset, size, stageTimer);
    return composeExport(colour, shown, displayed, cutoutImage, offset, size, stageTimer);
}

void CutSession::releaseAnalysis()
{
    labels = QImage();
    analysed = false;
}

void CutSession::releaseKeepPixels()
{
    keep = QList<qint32>();
    ++keepGeneration;
    isolationCurrent = false;
}

void CutSession::releasePhoto()
{
    photoImage = QImage();
}
