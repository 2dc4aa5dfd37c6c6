#include "gui/cutdocument.h"

#include "gui/autosave.h"
#include "gui/brushcommand.h"
#include "gui/cutoutdocument.h"
#include "gui/markercommand.h"
#include "gui/markerlayer.h"
#include "analysis/parallel.h"
#include "output/keepmask.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include "output/pictureio.h"
#include "session/toolsettings.h"

#include <algorithm>

CutDocument::CutDocument(QGraphicsScene &editScene, QObject *parent)
    : QObject(parent)
    , markerLayer(std::make_shared<MarkerLayer>(editScene, cut))
    , cutoutDocument(std::make_shared<CutoutDocument>(cut))
{
    history.setUndoLimit(200);
    cutoutDocument->undoFailed = [this] { emit undoFailed(); };
    cutoutDocument->redoFailed = [this] { emit redoFailed(); };
    connect(&history, &QUndoStack::indexChanged, this, &CutDocument::historyMoved);
}

CutDocument::~CutDocument()
{
    if (liveWorker) {
        liveWorker->wait();
        delete liveWorker;
    }
    // Commands go first, then what they describe; their weak handles make any other order
    // safe too.
    history.clear();
    cutoutDocument->undoFailed = nullptr;
    cutoutDocument->redoFailed = nullptr;
}

void CutDocument::forgetStroke()
{
    // Clearing the history drops an open stroke step with it.
    strokeDepth = 0;
    strokeStepOpen = false;
}

bool CutDocument::open(const QString &path, QString *reason)
{
    // Commands describe the old picture's dabs and cut-out.
    history.clear();
    markerLayer->clear();
    forgetStroke();
    // The session drops the old dabs, keep pixels and cut-out whether or not the read works.
    bool opened = false;
    QByteArray sum;
    runWaiting([&] {
        opened = cut.open(path, reason);
        if (opened)
            sum = fileSha256(path);
    });
    if (opened)
        photoSum = sum;
    cutoutDocument->rebuilt();
    reportedMarks = cut.marksGeneration(); // a new photo starts without marks to report
    emit modified();
    return opened;
}

void CutDocument::open(const QImage &picture)
{
    history.clear();
    markerLayer->clear();
    forgetStroke();
    runWaiting([&] { cut.setPhoto(picture); });
    reportedMarks = cut.marksGeneration();
}

void CutDocument::analyse()
{
    AnalysisHooks hooks;
    hooks.progress = progressCallback();
    runWaiting([&] { cut.analyse(hooks); });
}

void CutDocument::beginStroke()
{
    ++strokeDepth;
}

void CutDocument::endStroke()
{
    if (strokeDepth == 1)
        emit strokeEnding();
    if (strokeDepth > 0)
        --strokeDepth;
    if (strokeDepth == 0 && strokeStepOpen) {
        strokeStepOpen = false;
        history.endMacro();
    }
    checkMarks();
}

void CutDocument::push(QUndoCommand *command, const QString &strokeText)
{
    // The step opens with the stroke's first command: a stroke that changes nothing leaves
    // no empty step behind.
    if (wholeStrokes && strokeDepth > 0 && !strokeStepOpen) {
        history.beginMacro(strokeText);
        strokeStepOpen = true;
    }
    history.push(command);
}

void CutDocument::checkMarks()
{
    if (strokeDepth > 0 || cut.marksGeneration() == reportedMarks)
        return;
    reportedMarks = cut.marksGeneration();
    emit marksChanged();
    emit modified();
    if (live)
        startLiveRun();
}

void CutDocument::setLiveIsolation(bool on)
{
    live = on;
    if (live)
        startLiveRun();
}

void CutDocument::setIsolationMethod(IsolationMethod method)
{
    if (method == cut.isolationMethod())
        return;
    cut.setIsolationMethod(method);
    if (live)
        startLiveRun();
}

void CutDocument::startLiveRun()
{
    if (liveWorker) {
        // The run under way is out of date: it stops, and the next one starts when it has.
        liveAgain = true;
        liveCancel = true;
        return;
    }
    liveAgain = false;
    liveCancel = false;
    liveJob = cut.isolationJob();
    if (liveJob.isEmpty())
        return; // no analysed photo
    const QSize size = cut.size();
    liveWorker = QThread::create([this, size] {
        const Parallel::BackgroundScope background; // painting goes first
        IsolationHooks hooks;
        hooks.cancelled = [this] { return liveCancel.load(std::memory_order_relaxed); };
        liveKeep = liveJob.run(hooks);
        if (!liveCancel)
            liveOverlay = maskOverlay(liveKeep, size);
    });
    connect(liveWorker, &QThread::finished, this, &CutDocument::liveRunDone);
    liveWorker->start();
}

void CutDocument::liveRunDone()
{
    if (!liveWorker || !liveWorker->isFinished())
        return;
    if (busy) {
        // Other work is using the session: the result waits until it is done.
        QTimer::singleShot(10, this, &CutDocument::liveRunDone);
        return;
    }
    liveWorker->wait();
    delete liveWorker;
    liveWorker = nullptr;
    QList<qint32> keep = std::move(liveKeep);
    QImage overlay = std::move(liveOverlay);
    liveKeep = {};
    liveOverlay = QImage();
    const bool current = !liveCancel && cut.adoptIsolation(liveJob, std::move(keep));
    liveJob = {};
    if (current && live) {
        liveMask = std::move(overlay);
        emit liveMaskReady();
    }
    if (live && (liveAgain || !current))
        startLiveRun();
}

void CutDocument::settleLiveIsolation()
{
    while (!busy && liveWorker && cut.isCurrent(liveJob)) {
        QEventLoop loop;
        connect(liveWorker, &QThread::finished, &loop, &QEventLoop::quit);
        // A quit of the application ends every event loop: the run is left to the destructor.
        if (!liveWorker->isFinished() && loop.exec(QEventLoop::ExcludeUserInputEvents) != 0)
            return;
        liveRunDone();
    }
}

void CutDocument::historyMoved()
{
    checkMarks();
    // A brush batch, or the undo of one; dabs of a stroke count when it ends.
    if (strokeDepth == 0)
        emit modified();
}

void CutDocument::addDab(const MarkerDab &dab)
{
    push(new CMarkerCommand(markerLayer, markerLayer->add(dab)), tr("Marker stroke"));
}

int CutDocument::eraseIn(const QRectF &area)
{
    QList<CutSession::DabEntry> erased;
    const int count = markerLayer->eraseIn(area, wholeStrokes ? &erased : nullptr);
    if (!erased.isEmpty())
        push(new CEraseCommand(markerLayer, std::move(erased)), tr("Erasure"));
    checkMarks();
    return count;
}

void CutDocument::loadStrokes(const QList<MarkerDab> &drawingOrder, const QString &text)
{
    history.push(new CStrokesCommand(markerLayer, drawingOrder, text));
}

void CutDocument::placeDabs(const QList<MarkerDab> &drawingOrder)
{
    markerLayer->replace(drawingOrder);
    checkMarks();
}

void CutDocument::setBackgroundColour(QRgb colour)
{
    cut.setBackgroundColour(colour);
    backgroundFile.clear();
    backgroundSum.clear();
    emit modified();
}

bool CutDocument::setBackgroundPicture(const QString &path, QString *reason)
{
    QImage picture;
    QByteArray sum;
    runWaiting([&] {
        // Read like a photo: the same size limit, and a camera picture stands the right way up.
        picture = readPicture(path, reason);
        if (!picture.isNull())
            sum = fileSha256(path);
    });
    cut.setBackgroundPicture(picture);
    backgroundFile = picture.isNull() ? QString() : QFileInfo(path).absoluteFilePath();
    backgroundSum = sum;
    emit modified();
    return !picture.isNull();
}

const QList<qint32> &CutDocument::isolate()
{
    if (QThread::currentThread() == thread())
        settleLiveIsolation();
    IsolationHooks hooks;
    hooks.progress = progressCallback();
    hooks.stageTimer = stepTimer;
    runWaiting([&] { cut.isolate(hooks); });
    return cut.keepPixels();
}

void CutDocument::buildMatte(bool smooth, int gaussSize, bool refine)
{
    cut.setSmoothing(smooth, gaussSize);
    cut.setRefine(refine);
    const ProgressCallback progress = progressCallback();
    runWaiting([&] { cut.buildMatte(progress); });
}

void CutDocument::dropCutout()
{
    cut.dropCutout();
    cutoutDocument->rebuilt();
}

void CutDocument::applyBrush(const QList<QRect> &rects, bool keep, int intensity)
{
    CutoutDocument::Edit edit = cutoutDocument->paint(rects, cut.objectOffset(), keep, intensity);
    push(new CBrushCommand(cutoutDocument, edit.bounds, std::move(edit.before)), tr("Brush stroke"));
}

bool CutDocument::applyEdits(const BrushEdits &edits)
{
    if (!::applyEdits(cut.cutout(), edits))
        return false;
    cutoutDocument->noteEdited(edits.area);
    cutoutDocument->showRect(edits.area);
    emit modified();
    return true;
}

CutProject finishedProject(ProjectSnapshot snapshot)
{
    if (!snapshot.matte.isNull())
        snapshot.project.edits = narrowedEdits(snapshot.project.edits, snapshot.matte);
    return std::move(snapshot.project);
}

ProjectSnapshot CutDocument::withoutEdits(bool shown, const ToolSettings &tools) const
{
    ProjectSnapshot snapshot;
    CutProject &p = snapshot.project;
    p.photoPath = QFileInfo(cut.photoPath()).absoluteFilePath();
    p.photoSha256 = photoSum;
    p.photoSize = cut.size();
    p.dabs = cut.dabs();
    // A shown cut-out was made with the session's edge treatment; the next one will use the tools'.
    p.smoothEdges = shown ? cut.smoothsEdges() : tools.smoothEdges;
    p.gaussSize = shown ? cut.smoothingSize() : tools.gaussSize;
    p.refineEdges = shown ? cut.refinesEdges() : tools.refineEdges;
    p.isolation = cut.isolationMethod();
    p.backgroundColour = cut.backgroundColour();
    if (!cut.backgroundPicture().isNull() && !backgroundFile.isEmpty()) {
        p.backgroundPath = backgroundFile;
        p.backgroundSha256 = backgroundSum;
    }
    // The preview starts every background unzoomed.
    p.backgroundZoom = shown ? cut.backgroundZoom() : 1.0;
    p.objectOffset = cut.objectOffset();
    p.preview = shown;
    if (shown && !cutoutDocument->editedArea().isEmpty() && cut.isMatteCurrent())
        snapshot.matte = cut.matte();
    return snapshot;
}

ProjectSnapshot CutDocument::snapshot(bool preview, const ToolSettings &tools) const
{
    const bool shown = preview && !cut.cutout().isNull();
    ProjectSnapshot snapshot = withoutEdits(shown, tools);
    if (shown)
        snapshot.project.edits = captureEdits(cut.cutout(), cutoutDocument->editedArea());
    return snapshot;
}

ProjectSnapshot CutDocument::changes(bool preview, const ToolSettings &tools, bool whole)
{
    const bool shown = preview && !cut.cutout().isNull();
    ProjectSnapshot snapshot = withoutEdits(shown, tools);
    if (!shown)
        return snapshot;
    snapshot.changesOnly = true;
    snapshot.cutoutGeneration = cutoutDocument->generation();
    snapshot.editedArea = cutoutDocument->editedArea();
    const QRegion changed = cutoutDocument->takeChanges();
    // Copied, not shared: the brushes write into the cut-out in place.
    if (whole)
        snapshot.changedAlpha << captureEdits(cut.cutout(), snapshot.editedArea);
    else
        for (const QRect &area : changed)
            snapshot.changedAlpha << captureEdits(cut.cutout(), area);
    return snapshot;
}

bool CutDocument::runWaiting(const std::function<void()> &work)
{
    if (QThread::currentThread() != thread()) {
        work(); // already off the window's thread, inside other work
        return true;
    }
    if (busy)
        return false;
    busy = true;
    spanFrom = 0;
    spanTo = 100;
    worker = QThread::create(work);
    QEventLoop loop;
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    // A quit of the application ends every event loop; the work is still waited for.
    while (!worker->isFinished() && loop.exec(QEventLoop::ExcludeUserInputEvents) == 0) {
    }
    worker->wait();
    delete worker;
    worker = nullptr;
    QCoreApplication::sendPostedEvents(&reports, QEvent::MetaCall);
    spanFrom = 0;
    spanTo = 100;
    busy = false;
    return true;
}

void CutDocument::deliver(std::function<void()> report)
{
    if (QThread::currentThread() == thread())
        report();
    else
        QMetaObject::invokeMethod(&reports, std::move(report), Qt::QueuedConnection);
}

void CutDocument::setStage(const QString &text)
{
    deliver([this, text] { emit stageChanged(text); });
}

void CutDocument::setProgressSpan(int from, int to)
{
    spanFrom = from;
    spanTo = to;
}

void CutDocument::setProgress(int percent)
{
    deliver([this, percent] { emit progress(percent); });
}

ProgressCallback CutDocument::progressCallback()
{
    // Stages report often (the flood every 10 000 pixels): only changes travel.
    auto last = std::make_shared<int>(-1);
    return [this, last](int value) {
        const int from = spanFrom;
        const int to = spanTo;
        const int shown = from == 0 && to == 100 ? value : from + (to - from) * std::clamp(value, 0, 100) / 100;
        if (shown == *last)
            return;
        *last = shown;
        deliver([this, shown] { emit progress(shown); });
    };
}
