#pragma once

#include <QGraphicsScene>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QTimer>

#include "gui/autosave.h"
#include "gui/cutdocument.h"
#include "session/toolsettings.h"

class QActionGroup;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QGraphicsPixmapItem;
namespace Ui { class MainWindowUi; }

// The main window: turns actions, mouse input and dialogs into calls on the cut document,
// and shows the document's results on its two scenes.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens the first of `paths` as the Open command opens a chosen file, or as Open Project
    // does for a project (the command line).
    void openFiles(const QStringList &paths);
    // Offers back the cut of a session that ended without quitting (at start-up).
    void offerRecovery();
    // Opens a project file as Open Project does after its dialog.
    bool openProject(const QString &path);

signals:
    void mwquit();

private slots:
    // mainwindow.cpp, mainwindow_settings.cpp
    void on_actionQuit_triggered();
    void on_actionZoom_In_triggered();
    void on_actionZoom_Out_triggered();
    void on_actionPreferences_triggered();
    void on_actionIncreaseToolSize_triggered();
    void on_actionDecreaseToolSoze_triggered();
    void on_actionIncreaseBrushIntensity_triggered();
    void on_actionDecreaseBrushIntensity_triggered();

    // mainwindow_strokes.cpp, mainwindow_tools.cpp, mainwindow_brushes.cpp
    void on_actionLoadStrokes_triggered();
    void on_actionSaveStrokes_triggered();
    void on_actionKeep_arker_toggled(bool checked);
    void on_action_Remove_Marker_toggled(bool checked);
    void on_actionEdgeMarker_toggled(bool checked);
    void on_actionEraser_toggled(bool checked);
    void on_actionForeground_Brush_toggled(bool checked);
    void on_actionBackground_Brush_toggled(bool checked);
    void on_actionHandTool_toggled(bool checked);
    void on_BrushMouseEvent(QRect rect, bool now);
    void on_ProcessBrushMouseEvent();
    void on_TimeToSkipLastRect();
    void on_KeepBrushPressed(QList<QRect> rects);
    void on_RemoveBrushPressed(QList<QRect> rects);

    // mainwindow_open.cpp, mainwindow_preview.cpp, mainwindow_export.cpp
    void on_actionOpen_triggered();
    void on_actionMask_triggered();
    void on_actionLiveMask_toggled(bool checked);
    void on_actionPreview_toggled(bool checked);
    void on_HandToolPressed(QPoint prevpos, QPoint pos);
    void on_actionBackgroundZoomPlus_triggered();
    void on_actionBackgroundZoomMinus_triggered();
    void on_actionExport_triggered();

    // mainwindow_clipboard.cpp
    void on_actionCopy_triggered();
    void on_actionPaste_triggered();

    // mainwindow_project.cpp
    void on_actionOpenProject_triggered();
    void on_actionSaveProject_triggered();

    // mainwindow_dialogs.cpp
    void on_actionSelect_Background_triggered();
    void on_actionIndex_triggered();
    void on_actionAbout_triggered();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The window's size, place and state are kept for the next start, and unsaved work is
    // kept as Quit keeps it.
    void closeEvent(QCloseEvent *event) override;
    // A picture dropped on the window opens like a chosen one.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    friend class MainWindowProbe; // tests read the window's state through it

    void saveWindowState();
    // mainwindow_tools.cpp: the tools' keys in their tool tips, and [ and ] for the size
    void showToolKeys();
    // mainwindow_settings.cpp
    void readToolParameters();
    void stepToolSize(int delta);
    void stepBrushIntensity(int delta);
    // mainwindow_open.cpp
    void openFile(const QString &path);
    bool openPhoto(const QString &path); // without keeping the work of the one open
    bool loadImage(const QString &path);
    // Replaces the photo with what `open` opens, shown under `name`; false when it failed.
    bool showOpened(const QString &name, const std::function<bool()> &open);
    // What every open does afterwards, whether or not it worked.
    void afterOpen();
    void updateRecentMenu();
    QString droppedPicture(const QMimeData *data, QString &why) const;
    void analyseImage();
    // mainwindow_preview.cpp
    void dropMask();
    void showMask(QImage overlay);
    void isolateObject();
    void buildMatteImage();
    // The preview's two pictures, ready for the screen; made off the window's thread.
    struct PreviewPictures
    {
        QImage object;
        QImage background;
    };
    PreviewPictures previewPictures(StageClock *clock = nullptr);
    void clearPreview();
    // Composes the pictures and shows them.
    void showPreview();
    void showPreview(PreviewPictures pictures);
    void zoomBackground(double factor);
    // mainwindow_export.cpp
    bool exportImage();
    // mainwindow_clipboard.cpp: a picture file on the clipboard, or empty
    QString pastedFile(const QMimeData *data) const;
    // The picture the clipboard holds; null, with a reason when there is one, if none
    QImage pastedPicture(const QMimeData *data, QString &reason);
    // mainwindow_strokes.cpp: the photo must be open; empty when cancelled
    QString chooseStrokesFile(bool save);
    // mainwindow_project.cpp
    void setUpProjects();
    void noteChange();
    bool hasWork();
    bool hasUnsavedWork() { return unsaved && hasWork(); }
    // What the autosave writes: the unsaved cut with the brush edits since it last asked.
    std::optional<ProjectSnapshot> unsavedChanges(bool whole);
    // Unsaved work goes to a project file of its own in the data folder; `note` says where
    // (empty when nothing needed keeping). False when it could not be kept: the status bar
    // says why.
    bool keepUnsavedWork(QString &note);
    void leave(); // Quit and closing: unsaved work kept, or the recovery file left in place
    bool saveProject(const QString &path);
    // Makes the cut of `project` (read from `source`) this window's; false when nothing changed
    // or the photo could not be read. `notes` gathers what could not be restored as it was,
    // `kept` where the work open so far went.
    bool restoreProject(CutProject project, const QString &source, QStringList &notes, QString &kept);
    // A project saved, opened or kept: for the recent-files list, so that Open Recent brings
    // it back.
    void rememberRecent(const QString &path);
    // mainwindow_brushes.cpp
    void applyBrush(const QList<QRect> &rects, bool keep);
    void finishBrushStroke();
    void setStatus(const QString &text);
    CutSession &session() { return document.session(); }

    Ui::MainWindowUi *ui;
    QSettings settings;
    ToolSettings tools; // the store's values as last read, in bytes; the view keeps a copy
    QGraphicsScene editScene;
    QGraphicsScene previewScene;
    CutDocument document; // after the scene that shows its dabs
    QGraphicsPixmapItem *photoItem = nullptr; // in editScene; null after a failed open
    QGraphicsPixmapItem *maskItem = nullptr;
    QGraphicsPixmapItem *backgroundItem = nullptr;

    // The brush event stream.
    QTimer brushTimer;
    QTimer skipTimer;
    QRect lastBrushRect;
    bool skipLastRect = true;
    QList<QRect> brushRects;

    bool analysing = false; // the colour analysis is under way

    Autosave autosave; // after the document it reads
    bool unsaved = false;  // changes since the last project saved or opened
    QString projectPath;   // the project last saved or opened

    QActionGroup *markerGroup = nullptr;
    QActionGroup *brushGroup = nullptr;
};
