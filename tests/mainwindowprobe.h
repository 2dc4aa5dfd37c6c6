#pragma once

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QGraphicsPixmapItem>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "gui/mainwindow.h"
#include "gui/cutoutdocument.h"
#include "gui/markerlayer.h"
#include "gui/ovographicsview.h"

// Reads and sets the main window's private state for tests; user actions still go through
// the real widgets, found by their object names.
class MainWindowProbe
{
public:
    explicit MainWindowProbe(MainWindow &window) : w(window) {}

    template <typename T>
    T *widget(const char *name) const { return w.findChild<T *>(QLatin1String(name)); }
    OvoGraphicsView *view() const { return widget<OvoGraphicsView>("graphicsView"); }
    QStatusBar *statusBar() const { return widget<QStatusBar>("statusBar"); }
    QProgressBar *progressBar() const { return widget<QProgressBar>("progressBar"); }
    QMenu *menu(const char *name) const { return widget<QMenu>(name); }
    QString status() const { return statusBar()->currentMessage(); }
    QAction *action(const char *name) const { return widget<QAction>(name); }

    QSettings &settings() { return w.settings; }
    ToolSettings &tools() { return w.tools; }
    CutDocument &document() { return w.document; }
    CutSession &session() { return w.document.session(); }
    MarkerLayer &markers() { return w.document.markers(); }
    CutoutDocument &cutout() { return w.document.cutout(); }
    QGraphicsScene &editScene() { return w.editScene; }
    QGraphicsScene &previewScene() { return w.previewScene; }
    QGraphicsPixmapItem *photoItem() { return w.photoItem; }
    QGraphicsPixmapItem *&maskItem() { return w.maskItem; }
    QGraphicsPixmapItem *objectItem() { return cutout().item(); }
    QGraphicsPixmapItem *&backgroundItem() { return w.backgroundItem; }
    QTimer &brushTimer() { return w.brushTimer; }
    QTimer &skipTimer() { return w.skipTimer; }
    QRect &lastBrushRect() { return w.lastBrushRect; }
    bool &skipLastRect() { return w.skipLastRect; }
    QList<QRect> &brushRects() { return w.brushRects; }
    QUndoStack &undoStack() { return w.document.undoStack(); }
    Autosave &autosave() { return w.autosave; }
    bool unsaved() const { return w.unsaved; }

    // Loads a picture the way the Open command does after its dialog, without the dialog.
    bool load(const QString &path)
    {
        const bool loaded = w.loadImage(path);
        if (action("actionPreview")->isChecked())
            action("actionPreview")->setChecked(false);
        undoStack().clear();
        return loaded;
    }

    // Puts `picture` up as the preview's cut-out at `offset`, over `background`, the way the
    // preview command leaves them.
    void showCutout(const QImage &picture, QPoint offset, const QImage &background)
    {
        session().cutout() = picture;
        session().setObjectOffset(offset);
        w.previewScene.clear();
        w.backgroundItem = w.previewScene.addPixmap(QPixmap::fromImage(background));
        QGraphicsPixmapItem *object = cutout().createItem(QPixmap::fromImage(picture));
        w.previewScene.addItem(object);
        object->setZValue(10);
        object->setPos(offset);
        view()->setScene(&w.previewScene);
    }

    void readToolParameters() { w.readToolParameters(); }
    void isolateObject() { w.isolateObject(); }
    void buildMatteImage() { w.buildMatteImage(); }
    void showPreview() { w.showPreview(); }

private:
    MainWindow &w;
};

// Lets the toolbars lay out (a resize of the view rescales the picture), then returns to
// identity zoom: with the picture at the viewport's corner, scene and view points coincide.
inline void settleView(OvoGraphicsView *view)
{
    QCoreApplication::processEvents();
    view->resetTransform();
}

// Shows the window at 1000 x 800 with `path` opened, the picture at the viewport's top-left
// corner and the view at identity zoom.
inline bool showWithPicture(MainWindow &window, MainWindowProbe &probe, const QString &path)
{
    window.resize(1000, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) || !probe.load(path))
        return false;
    probe.view()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    settleView(probe.view());
    return true;
}

// Answers the next modal file dialog with `path` (an empty path cancels it). Offscreen the
// dialog is Qt's own widget, so its line edit and accept() are reachable.
inline void answerFileDialog(const QString &path, int delayMs = 0)
{
    QTimer::singleShot(delayMs, [path]() {
        QWidget *modal = QApplication::activeModalWidget();
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            answerFileDialog(path, 20); // not up yet
            return;
        }
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        // selectFile() leaves the name box alone while it has the focus.
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (dialog->selectedFiles().isEmpty() && name)
            name->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}
