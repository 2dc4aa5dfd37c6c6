#include "gui/autosave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>

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

CutProject finishedProject(ProjectSnapshot snapshot)
{
    if (!snapshot.matte.isNull())
        snapshot.project.edits = narrowedEdits(snapshot.project.edits, snapshot.matte);
    return std::move(snapshot.project);
}

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

void Autosave::setSource(std::function<std::optional<ProjectSnapshot>()> takeSnapshot, std::function<bool()> isBusy)
{
    capture = std::move(takeSnapshot);
    busy = std::move(isBusy);
}

void Autosave::changed()
{
    dirty = true;
    if (running || timer.isActive())
        return; // the save under way or due takes this change too
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
    std::optional<ProjectSnapshot> snapshot = capture ? capture() : std::nullopt;
    cost.captureNs = clock.nsecsElapsed();
    if (!snapshot && path.isEmpty())
        return; // nothing written yet, nothing to remove
    QString reason;
    if (path.isEmpty() && !claimFile(reason)) {
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
            if (saving > newestWritten) {
                if (*job) {
                    ok = writeProjectFile(target, finishedProject(std::move(**job)), &reason);
                    bytes = QFileInfo(target).size();
                } else {
                    QFile::remove(target);
                }
                newestWritten = saving;
            }
        }
        job->reset();
        const qint64 writeNs = clock.nsecsElapsed();
        QMetaObject::invokeMethod(
            this, [this, saving, ok, reason, writeNs, bytes] { saved(saving, ok, reason, writeNs, bytes); },
            Qt::QueuedConnection);
    });
}

void Autosave::saved(quint64, bool ok, const QString &reason, qint64 writeNs, qint64 bytes)
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
