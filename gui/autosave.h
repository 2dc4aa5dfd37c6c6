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

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "session/project.h"

// A project as taken on the window's thread, with the matte its brush edits are measured
// against (shared with the session, which never writes into it).
struct ProjectSnapshot
{
    CutProject project;
    QImage matte; // null when it no longer matches the cut-out
};

// The project to write: its edits narrowed to the pixels that differ from the matte. Slow for
// large edits; runs anywhere.
CutProject finishedProject(ProjectSnapshot snapshot);

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
// After a change it takes a snapshot on the window's thread (cheap) and encodes and writes it
// on a thread of its own, at most once per interval; a save that would replace a newer one is
// dropped. The file is written whole and renamed into place, so a kill at any moment leaves
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

    // `capture` takes the project on the window's thread, or nothing when there is no unsaved
    // work (the file then goes); while `busy` is true the document cannot be read.
    void setSource(std::function<std::optional<ProjectSnapshot>()> capture, std::function<bool()> busy);
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
    void saved(quint64 generation, bool ok, const QString &reason, qint64 writeNs, qint64 bytes);
    bool claimFile(QString &reason);
    void dropFile();

    std::function<std::optional<ProjectSnapshot>()> capture;
    std::function<bool()> busy;
    QTimer timer;
    QElapsedTimer sinceSave;
    int interval = 2000;
    bool dirty = false;
    bool running = false;
    bool keepOnExit = false;
    bool lastFailed = false;
    quint64 generation = 0;
    Cost cost;

    QString path;
    std::unique_ptr<QLockFile> lock;

    QThreadPool writer;
    QMutex writing;          // held by the writer around each file change
    quint64 newestWritten = 0; // guarded by `writing`
};
