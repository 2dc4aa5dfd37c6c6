#include "gui/autosave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <utility>

namespace {

const QString fileSuffix = QStringLiteral(".peltrix");
const QString lockSuffix = QStringLiteral(".lock");

std::unique_ptr<QLockFile> lockFor(const QString &lockPath)
{
    auto lock = std::make_unique<QLockFile>(lockPath);
    // A lock is stale only when its process is gone: a window may stay open for days.
    lock->setStaleLockTime(0);
    return lock;
}

} // namespace

void RecoveryFile::remove()
{
    QFile::remove(path);
    lock.reset();
}

Autosave::Autosave(QObject *parent)
    : QObject(parent)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &Autosave::save);
    writer.setMaxThreadCount(1);
}

Autosave::~Autosave()
{
    timer.stop();
    writer.waitForDone();
    if (!keepOnExit)
        dropFile();
}

QString Autosave::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/recovery");
}

std::vector<RecoveryFile> Autosave::abandoned()
{
    std::vector<RecoveryFile> files;
    const QDir dir(folder());
    for (const QFileInfo &info : dir.entryInfoList({QLatin1Char('*') + fileSuffix}, QDir::Files, QDir::Time)) {
        std::unique_ptr<QLockFile> lock = lockFor(dir.filePath(info.completeBaseName() + lockSuffix));
        if (!lock->tryLock(0))
            continue; // its window is alive
        // A save cut short leaves at most its new file, never a damaged old one.
        for (const QString &leftover : dir.entryList({info.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden))
            QFile::remove(dir.filePath(leftover));
        files.push_back({info.absoluteFilePath(), info.lastModified(), std::move(lock)});
    }
    // Locks of sessions that went before their first save.
    for (const QFileInfo &info : dir.entryInfoList({QLatin1Char('*') + lockSuffix}, QDir::Files)) {
        if (QFileInfo::exists(dir.filePath(info.completeBaseName() + fileSuffix)))
            continue;
        std::unique_ptr<QLockFile> lock = lockFor(info.absoluteFilePath());
        if (lock->tryLock(0))
            lock->unlock();
    }
    return files;
}

void Autosave::setSource(Capture takeSnapshot, std::function<bool()> isBusy)
{
    capture = std::move(takeSnapshot);
    busy = std::move(isBusy);
}

void Autosave::changed()
{
    dirty = true;
    if (running || timer.isActive())
        return; // the save due takes it, or the one after the save under way
    // A first change waits a moment for the ones that follow it; then one save per interval.
    const int quiet = std::min(interval, 250);
    const qint64 left = sinceSave.isValid() ? interval - sinceSave.elapsed() : 0;
    timer.start(int(std::clamp<qint64>(left, quiet, interval)));
}

void Autosave::save()
{
    if (!dirty)
        return;
    // Work on the document runs off this thread; the snapshot waits for it.
    if (busy && busy()) {
        timer.start(100);
        return;
    }
    dirty = false;
    QElapsedTimer clock;
    clock.start();
    const bool lost = lostEdits.exchange(false);
    const bool whole = std::exchange(resync, false) || lost;
    std::optional<ProjectSnapshot> snapshot = capture ? capture(whole) : std::nullopt;
    cost.captureNs = clock.nsecsElapsed();
    if (!snapshot && path.isEmpty())
        return; // nothing written yet, nothing to remove
    QString reason;
    if (path.isEmpty() && !claimFile(reason)) {
        resync = snapshot && snapshot->changesOnly;
        if (!lastFailed)
            emit failed(reason);
        lastFailed = true;
        return;
    }

    const quint64 saving = ++generation;
    running = true;
    sinceSave.start();
    auto job = std::make_shared<std::optional<ProjectSnapshot>>(std::move(snapshot));
    const QString target = path;
    writer.start([this, job, saving, target] {
        QElapsedTimer clock;
        clock.start();
        bool ok = true;
        QString reason;
        qint64 bytes = 0;
        {
            QMutexLocker locker(&writing);
            std::optional<CutProject> project;
            if (*job)
                project = withEdits(std::move(**job));
            if (saving > newestWritten) {
                if (!*job) {
                    QFile::remove(target);
                } else if (!project) {
                    ok = false;
                    reason = tr("not enough memory for the brush edits");
                } else {
                    ok = writeProjectFile(target, *project, &reason);
                    bytes = QFileInfo(target).size();
                }
                newestWritten = saving;
            }
        }
        job->reset();
        const qint64 writeNs = clock.nsecsElapsed();
        QMetaObject::invokeMethod(
            this, [this, ok, reason, writeNs, bytes] { saved(ok, reason, writeNs, bytes); },
            Qt::QueuedConnection);
    });
}

std::optional<CutProject> Autosave::withEdits(ProjectSnapshot snapshot)
{
    if (!snapshot.changesOnly)
        return finishedProject(std::move(snapshot));
    const QSize size = snapshot.project.photoSize;
    if (editedCutout != snapshot.cutoutGeneration || editedAlpha.size() != size) {
        editedAlpha = QImage();
        editedCutout = snapshot.cutoutGeneration;
    }
    if (snapshot.editedArea.isEmpty())
        return finishedProject(std::move(snapshot));
    if (editedAlpha.isNull() && !snapshot.changedAlpha.isEmpty())
        editedAlpha = QImage(size, QImage::Format_Grayscale8);
    if (editedAlpha.isNull()) {
        // The next snapshot brings the edits whole.
        editedCutout = 0;
        lostEdits = true;
        return std::nullopt;
    }
    for (const BrushEdits &changed : std::as_const(snapshot.changedAlpha)) {
        const QRect area = changed.area & editedAlpha.rect();
        for (int y = area.top(); y <= area.bottom(); ++y)
            std::copy_n(changed.alpha.constScanLine(y - changed.area.top()) + (area.left() - changed.area.left()),
                        area.width(), editedAlpha.scanLine(y) + area.left());
    }
    snapshot.project.edits.area = snapshot.editedArea;
    snapshot.project.edits.alpha = editedAlpha.copy(snapshot.editedArea);
    if (snapshot.project.edits.alpha.isNull())
        return std::nullopt;
    return finishedProject(std::move(snapshot));
}

void Autosave::saved(bool ok, const QString &reason, qint64 writeNs, qint64 bytes)
{
    running = false;
    cost.writeNs = writeNs;
    cost.bytes = bytes;
    if (!ok && !lastFailed)
        emit failed(reason);
    lastFailed = !ok;
    if (dirty)
        changed();
}

void Autosave::flush()
{
    timer.stop();
    writer.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!dirty)
        return;
    save();
    writer.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Autosave::adopt(RecoveryFile file)
{
    timer.stop();
    writer.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    dropFile();
    path = file.path;
    lock = std::move(file.lock);
    if (dirty)
        changed();
}

bool Autosave::claimFile(QString &reason)
{
    const QDir dir(folder());
    if (!QDir().mkpath(dir.path())) {
        reason = tr("cannot create %1").arg(QDir::toNativeSeparators(dir.path()));
        return false;
    }
    // A name of its own, never one a crashed session left (a process id may come again).
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::unique_ptr<QLockFile> claimed = lockFor(dir.filePath(name + lockSuffix));
    if (!claimed->tryLock(0)) {
        reason = tr("cannot lock a file in %1").arg(QDir::toNativeSeparators(dir.path()));
        return false;
    }
    lock = std::move(claimed);
    path = dir.filePath(name + fileSuffix);
    return true;
}

void Autosave::dropFile()
{
    if (!path.isEmpty())
        QFile::remove(path);
    path.clear();
    lock.reset();
}
