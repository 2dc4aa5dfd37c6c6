#pragma once

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include "app/mainwindow.h"
#include "ui_mainwindow.h"
#include "canvas/ovographicsview.h"

// Reads and sets the main window's private state for tests; user actions still go through
// the real widgets.
class MainWindowProbe
{
public:
    explicit MainWindowProbe(MainWindow &window) : w(window) {}

    Ui::MainWindowUi *ui() const { return w.ui; }
    OvoGraphicsView *view() const { return w.ui->graphicsView; }
    QString status() const { return w.ui->statusBar->currentMessage(); }
    QAction *action(const char *name) const { return w.findChild<QAction *>(QLatin1String(name)); }

    QSettings &settings() { return w.settings; }
    QGraphicsScene &editScene() { return w.editScene; }
    QGraphicsScene &previewScene() { return w.previewScene; }
    QImage &matteImage() { return w.matteImage; }
    QString &fileName() { return w.fileName; }
    QImage &sourceImage() { return w.sourceImage; }
    QGraphicsPixmapItem *&maskItem() { return w.maskItem; }
    QList<qint32> &keepPixels() { return w.keepPixels; }
    QPoint &objectOffset() { return w.objectOffset; }
    QGraphicsPixmapItem *&objectItem() { return w.objectItem; }
    QGraphicsPixmapItem *&backgroundItem() { return w.backgroundItem; }
    QImage &cutoutImage() { return w.cutoutImage; }
    QTimer &brushTimer() { return w.brushTimer; }
    QTimer &skipTimer() { return w.skipTimer; }
    QRect &lastBrushRect() { return w.lastBrushRect; }
    bool &skipLastRect() { return w.skipLastRect; }
    QList<QRect> &brushRects() { return w.brushRects; }
    QUndoStack &undoStack() { return w.undoStack; }
    quint8 &keepMarkerSize() { return w.keepMarkerSize; }
    quint8 &removeMarkerSize() { return w.removeMarkerSize; }
    quint8 &keepBrushSize() { return w.keepBrushSize; }
    quint8 &removeBrushSize() { return w.removeBrushSize; }
    quint8 &eraserSize() { return w.eraserSize; }
    float &maskOpacity() { return w.maskOpacity; }
    quint8 &keepBrushIntensity() { return w.keepBrushIntensity; }
    quint8 &removeBrushIntensity() { return w.removeBrushIntensity; }
    bool &smoothEdges() { return w.smoothEdges; }
    qint32 &gaussSize() { return w.gaussSize; }
    QRgb &backgroundColour() { return w.backgroundColour; }
    QImage &backgroundPicture() { return w.backgroundPicture; }
    CColorClusters &colorClusters() { return w.colorClusters; }
    QImage &labelMap() { return w.labelMap; }

    // Loads a picture the way the Open command does after its dialog, without the dialog.
    bool load(const QString &path)
    {
        w.fileName = path;
        const bool loaded = w.loadImage();
        w.objectOffset = QPoint(0, 0);
        w.cutoutImage = QImage();
        if (w.ui->actionPreview->isChecked())
            w.ui->actionPreview->setChecked(false);
        w.undoStack.clear();
        return loaded;
    }

    void isolateObject() { w.isolateObject(); }
    void buildMatteImage() { w.buildMatteImage(); }
    void showPreview() { w.showPreview(); }
    void cutoutRebuilt() { w.cutoutRebuilt(); }

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
        QMetaObject::invokeMethod(dialog, "accept");
    });
}
