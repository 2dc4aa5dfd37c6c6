// Strokes files: the dabs of the open picture saved as text, and loaded back in one step.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QFileInfo>

#include "isolation/markerinput.h"
#include "output/savefile.h"

QString MainWindow::chooseStrokesFile(bool save)
{
    if (!photoItem) {
        setStatus(tr("Open a picture first"));
        return QString();
    }
    const QString filter = tr("Strokes (*.txt);;All files (*.*)");
    const QString path = save ? QFileDialog::getSaveFileName(this, tr("Save Strokes"), currentDir(settings), filter)
                              : QFileDialog::getOpenFileName(this, tr("Load Strokes"), currentDir(settings), filter);
    if (path.isEmpty())
        setStatus(tr("No file selected"));
    return path;
}

void MainWindow::on_actionSaveStrokes_triggered()
{
    const QString path = chooseStrokesFile(true);
    if (path.isEmpty())
        return;
    const QList<MarkerDab> dabs = session().dabs();
    const QString header = QStringLiteral("Strokes for %1 (%2 x %3), in drawing order: keep X Y SIZE or remove X Y SIZE.\n"
                                          "peltrix-cut --markers THIS-FILE PICTURE repeats the cut.")
                               .arg(QFileInfo(session().photoPath()).fileName())
                               .arg(session().size().width())
                               .arg(session().size().height());
    QString reason;
    if (!writeWholeFile(path, markerText(dabs, header).toUtf8(), &reason)) {
        setStatus(tr("Could not save the strokes: %1").arg(reason));
        return;
    }
    setStatus(tr("Saved %1 dabs to %2").arg(dabs.size()).arg(QFileInfo(path).fileName()));
}

void MainWindow::on_actionLoadStrokes_triggered()
{
    const QString path = chooseStrokesFile(false);
    if (path.isEmpty())
        return;
    QList<MarkerDab> dabs;
    QString error;
    if (!readMarkerFile(path, dabs, error)) {
        // The reason names the file and the line; nothing has changed.
        setStatus(tr("Could not load the strokes: %1").arg(error));
        return;
    }
    document.loadStrokes(dabs, tr("Load Strokes"));
    setStatus(tr("Loaded %1 dabs from %2").arg(dabs.size()).arg(QFileInfo(path).fileName()));
}
