#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QUndoStack>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "isolation/markers.h"
#include "session/cutsession.h"
#include "session/project.h"

struct ToolSettings;

// A project as taken on the window's thread, with the matte its brush edits are measured
// against (shared with the session, which never writes into it).
struct ProjectSnapshot
{
    CutProject project;
    QImage matte; // null when it no longer matches the cut-out
    // Taken by changes(): instead of the edits, the alpha of what the brushes changed since
    // the last such snapshot of the same cut-out, and the area they changed since it was built.
    bool changesOnly = false;
    quint64 cutoutGeneration = 0;
    QList<BrushEdits> changedAlpha;
    QRect editedArea;
};

// The project to write from a whole snapshot: its edits narrowed to the pixels that differ
// from the matte. Slow for large edits; runs on any thread.
CutProject finishedProject(ProjectSnapshot snapshot);

class CutoutDocument;
class MarkerLayer;
class QGraphicsScene;
class QThread;

// The cut being edited in the window: the session with the photo and everything computed
// from it, the dabs on the editing scene, the cut-out the brushes edit, one undo history for
// all of them, and the work that runs off the window's thread. The window and the canvas
// change the cut only through it; it tells them through signals how far work has come and
// when something went wrong.
//
// The marker layer and the cut-out document are held in shared pointers because their
// commands and items hold weak handles to them.
class CutDocument : public QObject
{
    Q_OBJECT

public:
    // Dabs are shown on `editScene`, which must outlive the document's items (the scene
    // deletes them if it goes first).
    explicit CutDocument(QGraphicsScene &editScene, QObject *parent = nullptr);
    ~CutDocument() override;

    CutSession &session() { return cut; }
    const CutSession &session() const { return cut; }
    QUndoStack &undoStack() { return history; }
    MarkerLayer &markers() { return *markerLayer; }
    CutoutDocument &cutout() { return *cutoutDocument; }

    // --- Work off the window's thread
    // Runs `work` on a thread of its own while this thread waits in an event loop that
    // leaves user input queued: the window keeps painting and its timers keep running, but
    // clicks and keys wait until the work is done, so that for the user and for the caller
    // the command is still one step. Progress and stages reported meanwhile all arrive
    // before this returns. Called from inside such work it simply runs `work`; called while
    // other work is under way it runs nothing and returns false.
    bool runWaiting(const std::function<void()> &work);
    bool isBusy() const { return busy; }
    // What work reports, from any thread: the stage it is in, and where the progress of the
    // stages that follow falls on the bar (0 to 100 of the stage are mapped to from..to).
    void setStage(const QString &text);
    void setProgressSpan(int from, int to);
    void setProgress(int percent); // as it stands on the bar
    // Hears the time of each step of the window's commands (benchmarks); called on whichever
    // thread does the step, one step at a time.
    void setStageTimer(StageTimer timer) { stepTimer = std::move(timer); }
    const StageTimer &stageTimer() const { return stepTimer; }


    // --- The photo
    // Drops the undo history and the dabs, then opens `path`; on failure the previous photo
    // and its analysis stay and `reason` says why.
    bool open(const QString &path, QString *reason = nullptr);
    // The same for a picture read already (a pasted one).
    void open(const QImage &picture);
    // The colour analysis of the open photo.
    void analyse();
    // SHA-256 of the open photo's file as it was read; empty without one.
    const QByteArray &photoSha256() const { return photoSum; }

    // --- The preview's background
    void setBackgroundColour(QRgb colour); // drops a background picture
    // Reads the picture (off the window's thread); one that cannot be read leaves the colour.
    bool setBackgroundPicture(const QString &path, QString *reason = nullptr);
    // The file of the background picture and its SHA-256; empty for a colour.
    const QString &backgroundPath() const { return backgroundFile; }
    const QByteArray &backgroundSha256() const { return backgroundSum; }

    // --- Dabs, each one undo step
    // A stroke runs from a press to its release; the marks are reported changed at its end.
    // With whole-stroke undo everything a stroke pushes is one undo step.
    void beginStroke();
    void endStroke();
    void setWholeStrokeUndo(bool on) { wholeStrokes = on; }
    bool wholeStrokeUndo() const { return wholeStrokes; }
    void addDab(const MarkerDab &dab);
    // Erases the dabs whose shape meets `area` (scene coordinates); undoable only with
    // whole-stroke undo.
    int eraseIn(const QRectF &area);
    // Puts the dabs of a strokes file in place of all, as one undo step named `text`.
    void loadStrokes(const QList<MarkerDab> &drawingOrder, const QString &text);
    // Puts dabs in place of all without an undo step: a restored cut starts its history here.
    void placeDabs(const QList<MarkerDab> &drawingOrder);

    // --- Live isolation: while it is on, every change of the marks isolates a copy of them
    // off the window's thread, without anyone waiting; a newer change supersedes a run not
    // yet done. The newest result becomes the session's isolation and reaches the window
    // through liveMaskReady().
    void setLiveIsolation(bool on);
    // The method Mask, Preview and the live isolation use; a change isolates anew.
    void setIsolationMethod(IsolationMethod method);
    bool liveIsolation() const { return live; }
    // Waits, still painting, for a live run of the current marks, so that its result is
    // used instead of isolating again.
    void settleLiveIsolation();
    // The overlay of the newest live isolation, handed over once (null afterwards).
    QImage takeLiveMask() { return std::exchange(liveMask, QImage()); }

    // --- Results, recomputed only when stale
    const QList<qint32> &isolate();
    // The matte with the given edge treatment.
    void buildMatte(bool smooth, int gaussSize, bool refine);
    // Drops the cut-out and the brushes' edits: the next preview starts from the markers.
    void dropCutout();

    // --- Brushes: one batch of dabs (scene rectangles) raises or lowers the cut-out's alpha
    // under their inscribed ellipses by `intensity`; one undo step.
    void applyBrush(const QList<QRect> &rects, bool keep, int intensity);
    // Writes saved brush edits into the cut-out and shows them, without an undo step; false
    // when they do not fit the cut-out.
    bool applyEdits(const BrushEdits &edits);

    // --- The project: what the cut is made of. `preview` tells whether the preview is shown
    // (only then do brush edits count); `tools` give the edge treatment the next preview would
    // use. Reading the whole edited alpha takes a while on a large photo: run it where the
    // window waits anyway.
    ProjectSnapshot snapshot(bool preview, const ToolSettings &tools) const;
    // The same with only the brush edits made since the last call (all of them with `whole`);
    // cheap, for this thread.
    ProjectSnapshot changes(bool preview, const ToolSettings &tools, bool whole);

signals:
    // Work under way reports how far it is, 0 to 100, and which stage it is in.
    void progress(int percent);
    void stageChanged(const QString &text);
    // An undo or a redo could not read its saved pixels back.
    void undoFailed();
    void redoFailed();
    // A stroke is about to end: what it still has queued belongs in its undo step.
    void strokeEnding();
    // The marks changed: after a stroke, an erasure, an undo or redo, or a strokes file.
    void marksChanged();
    // A live isolation is done: takeLiveMask() has the mask overlay for the session's marks
    // as they are now.
    void liveMaskReady();
    // What a project holds changed: marks, brush edits, the background, a new photo. Dabs
    // within a stroke count once the stroke ends.
    void modified();

private:
    // Delivers a report on this object's thread, in order, whichever thread makes it.
    void deliver(std::function<void()> report);
    ProgressCallback progressCallback();
    // Reports changed marks unless a stroke is under way.
    void checkMarks();
    void startLiveRun();
    void liveRunDone();
    // Pushes `command`; inside a stroke with whole-stroke undo, into the stroke's step, which
    // is named `strokeText`.
    void push(QUndoCommand *command, const QString &strokeText);
    void forgetStroke();
    void historyMoved();
    ProjectSnapshot withoutEdits(bool shown, const ToolSettings &tools) const;

    CutSession cut;
    QByteArray photoSum;
    QString backgroundFile;
    QByteArray backgroundSum;
    QUndoStack history;
    std::shared_ptr<MarkerLayer> markerLayer;
    std::shared_ptr<CutoutDocument> cutoutDocument;

    int strokeDepth = 0;
    bool wholeStrokes = false;
    bool strokeStepOpen = false; // a macro on the history collects the stroke
    quint64 reportedMarks = 0;
    bool live = false;
    QThread *liveWorker = nullptr;
    CutSession::IsolationJob liveJob; // what liveWorker isolates
    QList<qint32> liveKeep;           // and its results, read once it has finished
    QImage liveOverlay;
    bool liveAgain = false;           // the marks changed while it ran
    std::atomic<bool> liveCancel{false};
    QImage liveMask;                  // the newest result, until the window takes it

    bool busy = false;
    QThread *worker = nullptr;
    QObject reports; // receives the reports of work off this thread
    std::atomic<int> spanFrom{0};
    std::atomic<int> spanTo{100};
    StageTimer stepTimer;
};
