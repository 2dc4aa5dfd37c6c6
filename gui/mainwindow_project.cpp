// Cut projects: Save Project and Open Project, the autosave to a recovery file, the offer to
// restore the cut of a session that did not quit, and unsaved work kept instead of dropped.
#include "gui/mainwindow.h"
#include "session/recentfiles.h"
#include "gui/picturefilters.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>

namespace {

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// Unsaved work that had to make way goes here, one file per cut.
QString keptPath(const QString &photoName)
{
    const QDir folder(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/kept"));
    const QString stem = QFileInfo(photoName).completeBaseName() + QLatin1Char('-')
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = folder.filePath(stem + QLatin1Char('.') + projectSuffix());
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(QStringLiteral("%1-%2.%3").arg(stem).arg(n).arg(projectSuffix()));
    return path;
}

} // namespace

void MainWindow::setUpProjects()
{
    autosave.setSource([this](bool whole) { return unsavedChanges(whole); }, [this] { return document.isBusy(); });
    connect(&autosave, &Autosave::failed, this,
            [this](const QString &reason) { setStatus(tr("Autosave failed: %1").arg(reason)); });
    connect(&document, &CutDocument::modified, this, &MainWindow::noteChange);
    // What the window changes beside the document: the object's place, the background's zoom
    // and whether the preview (and with it the brush edits) is shown.
    connect(ui->graphicsView, &OvoGraphicsView::HandTool, this, &MainWindow::noteChange);
    connect(ui->actionPreview, &QAction::toggled, this, &MainWindow::noteChange);
    connect(ui->actionBackgroundZoomPlus, &QAction::triggered, this, &MainWindow::noteChange);
    connect(ui->actionBackgroundZoomMinus, &QAction::triggered, this, &MainWindow::noteChange);
}

void MainWindow::noteChange()
{
    unsaved = true;
    autosave.changed();
}

bool MainWindow::hasWork()
{
    // A background chosen earlier stays for every photo: alone it is no work on this one.
    const CutSession &cut = session();
    return photoItem && !cut.photoPath().isEmpty() && !document.photoSha256().isEmpty()
           && (cut.dabCount() > 0 || document.undoStack().count() > 0 || cut.objectOffset() != QPoint());
}

std::optional<ProjectSnapshot> MainWindow::unsavedChanges(bool whole)
{
    if (!hasUnsavedWork())
        return std::nullopt;
    return document.changes(ui->actionPreview->isChecked(), tools, whole);
}

bool MainWindow::keepUnsavedWork(QString &note)
{
    note.clear();
    if (!hasUnsavedWork())
        return true;
    const QString photoName = fileName(session().photoPath());
    const QString path = keptPath(photoName);
    const bool preview = ui->actionPreview->isChecked();
    bool written = false;
    QString error;
    // The whole edited alpha is read here too, while the window waits.
    document.runWaiting([&] {
        if (QDir().mkpath(QFileInfo(path).path()))
            written = writeProjectFile(path, finishedProject(document.snapshot(preview, tools)), &error);
        else
            error = tr("cannot create %1").arg(QDir::toNativeSeparators(QFileInfo(path).path()));
    });
    if (!written) {
        setStatus(tr("Could not keep the cut of %1: %2").arg(photoName, error));
        return false;
    }
    unsaved = false;
    rememberRecent(path);
    note = tr("The cut of %1 was kept in %2").arg(photoName, QDir::toNativeSeparators(path));
    setStatus(note);
    return true;
}

void MainWindow::leave()
{
    QString note;
    if (keepUnsavedWork(note))
        return;
    // Not lost: the recovery file stays, and the next start offers it back.
    autosave.flush();
    autosave.keepFileOnExit();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (document.isBusy()) {
        event->ignore();
        return;
    }
    saveWindowState();
    leave();
    QMainWindow::closeEvent(event);
}

void MainWindow::rememberRecent(const QString &path)
{
    // Open Recent brings the project back.
    RecentFiles(settings).add(path);
}

void MainWindow::on_actionSaveProject_triggered()
{
    if (document.isBusy())
        return;
    if (!photoItem || session().photoPath().isEmpty()) {
        setStatus(tr("Open a picture first"));
        return;
    }
    QString suggested = projectPath;
    if (suggested.isEmpty())
        suggested = QDir(currentDir(settings)).filePath(QFileInfo(session().photoPath()).completeBaseName()
                                                        + QLatin1Char('.') + projectSuffix());
    QString path = QFileDialog::getSaveFileName(this, tr("Save Project"), suggested, tr("Projects (*.peltrix)"));
    if (path.isEmpty()) {
        setStatus(tr("No file selected"));
        return;
    }
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + projectSuffix();
    saveProject(path);
}

bool MainWindow::saveProject(const QString &path)
{
    if (document.photoSha256().isEmpty()) {
        setStatus(tr("Could not save the project: the photo's file cannot be read"));
        return false;
    }
    const bool preview = ui->actionPreview->isChecked();
    const QString stage = tr("Writing %1").arg(fileName(path));
    bool written = false;
    QString error;
    document.runWaiting([&] {
        document.setStage(stage);
        written = writeProjectFile(path, finishedProject(document.snapshot(preview, tools)), &error);
    });
    if (!written) {
        setStatus(tr("Could not save the project: %1").arg(error));
        return false;
    }
    projectPath = QFileInfo(path).absoluteFilePath();
    unsaved = false;
    autosave.changed(); // nothing is unsaved now: the recovery file goes
    rememberRecent(projectPath);
    setStatus(tr("Saved the project to %1").arg(fileName(path)));
    return true;
}

void MainWindow::on_actionOpenProject_triggered()
{
    if (document.isBusy())
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Open Project"), currentDir(settings),
                                                      tr("Projects (*.peltrix);;All files (*.*)"));
    if (path.isEmpty()) {
        setStatus(tr("No file selected"));
        return;
    }
    openProject(path);
}

bool MainWindow::openProject(const QString &path)
{
    if (document.isBusy())
        return false;
    CutProject project;
    QString error;
    if (!readProjectFile(path, project, error)) {
        setStatus(tr("Could not open the project %1: %2").arg(fileName(path), error));
        return false;
    }
    QStringList notes;
    QString kept;
    if (!restoreProject(std::move(project), path, notes, kept))
        return false;
    projectPath = QFileInfo(path).absoluteFilePath();
    // Whatever could not be restored as it was makes the cut differ from the file.
    unsaved = !notes.isEmpty();
    autosave.changed();
    rememberRecent(projectPath);
    notes.prepend(tr("Opened the project %1").arg(fileName(path)));
    if (!kept.isEmpty())
        notes << kept;
    setStatus(notes.join(QStringLiteral("; ")));
    return true;
}

bool MainWindow::restoreProject(CutProject project, const QString &source, QStringList &notes, QString &kept)
{
    const QString photoName = fileName(project.photoPath);
    QString photo = project.photoPath;
    if (!QFileInfo(photo).isFile()) {
        // Moved together with the project: the same file beside it.
        const QString beside = QFileInfo(source).absoluteDir().filePath(photoName);
        QByteArray sum;
        if (QFileInfo(beside).isFile())
            document.runWaiting([&] { sum = fileSha256(beside); });
        if (!sum.isEmpty() && sum == project.photoSha256) {
            photo = beside;
        } else {
            photo = QFileDialog::getOpenFileName(this, tr("Where is %1?").arg(photoName),
                                                 currentDir(settings), pictureFileFilter());
            if (photo.isEmpty()) {
                setStatus(tr("The photo %1 of the cut was not found; nothing was changed").arg(photoName));
                return false;
            }
        }
    }
    QByteArray sum;
    document.runWaiting([&] { sum = fileSha256(photo); });
    if (sum != project.photoSha256) {
        const QString name = fileName(photo);
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, tr("Changed Photo"),
            tr("The photo %1 has changed since the cut was saved. Place the cut's dabs on it anyway? "
               "Its brush edits cannot be used.").arg(name));
        if (answer != QMessageBox::Yes) {
            setStatus(tr("The photo %1 has changed since the cut was saved; nothing was changed").arg(name));
            return false;
        }
        project.edits = BrushEdits();
        notes << tr("the photo %1 has changed: its dabs were placed, its brush edits left out").arg(name);
    }

    if (!keepUnsavedWork(kept) || !openPhoto(photo))
        return false;

    // The cut is made again as it was made; its edge treatment becomes the window's.
    writeSetting(settings, SettingKeys::SmoothEdges, project.smoothEdges);
    writeSetting(settings, SettingKeys::GaussSize, project.gaussSize);
    writeSetting(settings, SettingKeys::RefineEdges, project.refineEdges);
    writeSetting(settings, SettingKeys::Isolation, isolationMethodName(project.isolation));
    readToolParameters();

    document.placeDabs(project.dabs);
    document.setBackgroundColour(project.backgroundColour);
    if (!project.backgroundPath.isEmpty()) {
        const QString name = fileName(project.backgroundPath);
        if (!document.setBackgroundPicture(project.backgroundPath))
            notes << tr("the background picture %1 was not found: the colour is shown").arg(name);
        else if (document.backgroundSha256() != project.backgroundSha256)
            notes << tr("the background picture %1 has changed").arg(name);
    }
    session().setObjectOffset(project.objectOffset);
    if (project.preview) {
        ui->actionPreview->setChecked(true);
        if (!document.applyEdits(project.edits))
            notes << tr("the brush edits do not fit the photo and were left out");
        if (!session().backgroundPicture().isNull() && project.backgroundZoom != 1.0)
            zoomBackground(project.backgroundZoom); // from a new preview's zoom of 1
    }
    return true;
}

void MainWindow::offerRecovery()
{
    std::vector<RecoveryFile> files = Autosave::abandoned();
    for (RecoveryFile &file : files) {
        CutProject project;
        QString error;
        bool read = false;
        document.runWaiting([&] { read = readProjectFile(file.path, project, error); });
        if (!read) {
            // Perhaps a later version's: left for it.
            setStatus(tr("A recovery file could not be read (%1): %2").arg(QDir::toNativeSeparators(file.path), error));
            continue;
        }
        const QString photoName = fileName(project.photoPath);
        const QString when = QLocale().toString(file.saved, QLocale::ShortFormat);
        if (QMessageBox::question(this, tr("Recovery"), tr("Restore the cut of %1 from %2?").arg(photoName, when))
            != QMessageBox::Yes) {
            file.remove();
            setStatus(tr("The cut of %1 from %2 was dropped").arg(photoName, when));
            continue;
        }
        QStringList notes;
        QString kept;
        // When it cannot be restored now, the file stays for the next start.
        if (!restoreProject(std::move(project), file.path, notes, kept))
            return;
        autosave.adopt(std::move(file));
        unsaved = true; // it lies in no project file
        notes.prepend(tr("Restored the cut of %1 from %2").arg(photoName, when));
        if (!kept.isEmpty())
            notes << kept;
        setStatus(notes.join(QStringLiteral("; ")));
        return; // one at a time: the others wait for the next start
    }
}
