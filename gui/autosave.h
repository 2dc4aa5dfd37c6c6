#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QLockFile>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "gui/cutdocument.h"
#include "session/project.h"

// A recovery file whose session ended without a clean quit, locked by this process while it
// is offered, so that no other instance offers it too.
struct RecoveryFile
{
    QString path;
    QDateTime saved;
    std::unique_ptr<QLockFile> lock;

    // Declined: the file and its lock go.
    void remove();
};

// Keeps the window's unsaved work in a recovery file of its own in the user's data folder.
// After a change it takes a snapshot on the window's thread and encodes and writes it on a
// thread of its own, at most once per interval; a save that would replace a newer one is
// dropped. The snapshot carries only the brush edits made since the last one: the writer keeps
// the edited alpha so far, so that the window's share stays as small as the last changes. The file is written whole and renamed into place, so a kill at any moment leaves
// the previous file or the new one. Each window holds a lock beside its file: another window
// or program instance never writes it, and a file whose lock nobody holds was left by a
// session that did not quit. The file goes when the window does, unless told otherwise.
class Autosave : public QObject
{
    Q_OBJECT

public:
    explicit Autosave(QObject *parent = nullptr);
    ~Autosave() override;

    // The recovery folder.
    static QString folder();
    // Recovery files of sessions that are gone, newest first, each locked by the caller.
    static std::vector<RecoveryFile> abandoned();

    // `capture` takes the project on the window's thread with the brush edits made since it
    // last did (all of them when asked for the whole), or nothing when there is no unsaved
    // work (the file then goes); while `busy` is true the document cannot be read.
    using Capture = std::function<std::optional<ProjectSnapshot>(bool whole)>;
    void setSource(Capture capture, std::function<bool()> busy);
    // Something changed: a save follows within the interval.
    void changed();
    void setInterval(int milliseconds) { interval = milliseconds; }
    // Writes what is pending now and waits until every save is done.
    void flush();
    // A recovered file becomes this window's own; the file it had so far goes.
    void adopt(RecoveryFile file);
    // The file stays when the window goes (its work could not be kept elsewhere).
    void keepFileOnExit() { keepOnExit = true; }

    // A change not yet on disk, or a save under way.
    bool pending() const { return dirty || running; }
    QString fileName() const { return path; }

    // What the last save cost: on the window's thread, off it, and the file's size.
    struct Cost
    {
        qint64 captureNs = 0;
        qint64 writeNs = 0;
        qint64 bytes = 0;
    };
    Cost lastCost() const { return cost; }

signals:
    // A save could not be written; `reason` says why.
    void failed(const QString &reason);

private:
    void save();
    void saved(bool ok, const QString &reason, qint64 writeNs, qint64 bytes);
    bool claimFile(QString &reason);
    void dropFile();

    Capture capture;
    std::function<bool()> busy;
    QTimer timer;
    QElapsedTimer sinceSave;
    int interval = 2000;
    bool dirty = false;
    bool running = false;
    bool keepOnExit = false;
    bool lastFailed = false;
    bool resync = false; // a snapshot's brush edits never reached the writer
    quint64 generation = 0;
    Cost cost;

    QString path;
    std::unique_ptr<QLockFile> lock;

    // The writer's side, guarded by `writing`, which it holds around each file change.
    QThreadPool writer;
    QMutex writing;
    quint64 newestWritten = 0;
    QImage editedAlpha; // the cut-out's alpha where the brushes changed it, photo-sized
    quint64 editedCutout = 0; // the cut-out generation `editedAlpha` belongs to
    std::atomic<bool> lostEdits{false}; // the writer could not keep them: take them whole
    // The project of a snapshot, its brush edits completed from those kept so far.
    std::optional<CutProject> withEdits(ProjectSnapshot snapshot);
};
