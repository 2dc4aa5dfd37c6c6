#pragma once

#include <QGraphicsScene>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QSharedPointer>
#include <QSettings>
#include <QTimer>
#include <QUndoStack>

#include "analysis/colorclusters.h"

class QActionGroup;
class QGraphicsPixmapItem;
struct CutoutTarget;
namespace Ui { class MainWindowUi; }

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void mwquit();

private slots:
    // app/
    void on_actionQuit_triggered();
    void on_actionZoom_In_triggered();
    void on_actionZoom_Out_triggered();
    void on_actionPreferences_triggered();
    void on_actionIncreaseToolSize_triggered();
    void on_actionDecreaseToolSoze_triggered();
    void on_actionIncreaseBrushIntensity_triggered();
    void on_actionDecreaseBrushIntensity_triggered();

    // canvas/
    void on_actionKeep_arker_toggled(bool checked);
    void on_action_Remove_Marker_toggled(bool checked);
    void on_actionEraser_toggled(bool checked);
    void on_actionForeground_Brush_toggled(bool checked);
    void on_actionBackground_Brush_toggled(bool checked);
    void on_actionHandTool_toggled(bool checked);
    void on_BrushMouseEvent(QRect rect, bool now);
    void on_ProcessBrushMouseEvent();
    void on_TimeToSkipLastRect();
    void on_KeepBrushPressed(QList<QRect> rects);
    void on_RemoveBrushPressed(QList<QRect> rects);

    // output/
    void on_actionOpen_triggered();
    void on_actionMask_triggered();
    void on_actionPreview_toggled(bool checked);
    void on_HandToolPressed(QPoint prevpos, QPoint pos);
    void on_actionBackgroundZoomPlus_triggered();
    void on_actionBackgroundZoomMinus_triggered();
    void on_actionExport_triggered();

    // dialogs/
    void on_actionSelect_Background_triggered();
    void on_actionIndex_triggered();
    void on_actionAbout_triggered();

private:
    friend class MainWindowProbe; // tests read the window's state through it

    void readToolParameters();
    void stepToolSize(int delta);
    void stepBrushIntensity(int delta);
    bool loadImage();
    void analyseImage();
    bool editSceneHasPhoto() const;
    void isolateObject();
    void buildMatteImage();
    void composePreview(QPixmap &background, QPixmap &object);
    void showPreview();
    bool exportImage();
    void setStatus(const QString &text);
    // canvas/brushes.cpp
    void applyBrush(const QList<QRect> &rects, bool keep);
    QSharedPointer<CutoutTarget> brushTarget();
    void cutoutRebuilt(); // call wherever cutoutImage is reset or rebuilt from the markers

    Ui::MainWindowUi *ui;
    QSettings settings;
    QGraphicsScene editScene;
    QGraphicsScene previewScene;
    QImage matteImage;
    QString fileName;
    QImage sourceImage;
    QGraphicsPixmapItem *maskItem = nullptr;
    QList<qint32> keepPixels;
    QPoint objectOffset;
    QGraphicsPixmapItem *objectItem = nullptr;
    QGraphicsPixmapItem *backgroundItem = nullptr;
    QImage cutoutImage;
    QTimer brushTimer;
    QTimer skipTimer;
    QRect lastBrushRect;
    bool skipLastRect = true;
    QList<QRect> brushRects;
    QUndoStack undoStack;
    quint8 keepMarkerSize = 0;
    quint8 removeMarkerSize = 0;
    quint8 keepBrushSize = 0;
    quint8 removeBrushSize = 0;
    quint8 eraserSize = 0;
    float maskOpacity = 0.0f;
    quint8 keepBrushIntensity = 0;
    quint8 removeBrushIntensity = 0;
    bool smoothEdges = true;
    qint32 gaussSize = 5;
    QRgb backgroundColour = 0x00FFFFFF;
    QImage backgroundPicture;
    CColorClusters colorClusters;
    QImage labelMap;
    QSharedPointer<CutoutTarget> cutoutTarget; // brush commands' view of the cut-out, made on first use

    QActionGroup *markerGroup = nullptr;
    QActionGroup *brushGroup = nullptr;
};
