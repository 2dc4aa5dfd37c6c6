#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QGraphicsPixmapItem>
#include <QKeySequence>
#include <QMenu>
#include <QProgressBar>


static void initResources()
{
    // The resources live in a static library; make sure the linker keeps them.
    Q_INIT_RESOURCE(resources);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindowUi)
    , document(editScene)
{
    initResources();
    ui->setupUi(this);
    setAcceptDrops(true);
    // The first start keeps the form's size; a stored geometry that does not fit the screens
    // any more is moved onto them.
    restoreGeometry(settingValue(settings, SettingKeys::WindowGeometry).toByteArray());
    restoreState(settingValue(settings, SettingKeys::WindowState).toByteArray());

    markerGroup = new QActionGroup(this);
    markerGroup->setExclusive(true);
    markerGroup->addAction(ui->actionKeep_arker);
    markerGroup->addAction(ui->action_Remove_Marker);
    markerGroup->addAction(ui->actionEdgeMarker);
    markerGroup->addAction(ui->actionEraser);

    brushGroup = new QActionGroup(this);
    brushGroup->setExclusive(true);
    brushGroup->addAction(ui->actionForeground_Brush);
    brushGroup->addAction(ui->actionBackground_Brush);
    brushGroup->addAction(ui->actionHandTool);

    QAction *undoAction = document.undoStack().createUndoAction(nullptr);
    undoAction->setObjectName(QStringLiteral("actionUndo"));
    undoAction->setParent(this); // owned by the window, unlike the stack's default
    undoAction->setShortcut(QKeySequence::Undo);
    ui->menuActions->addAction(undoAction);
    QAction *redoAction = document.undoStack().createRedoAction(nullptr);
    redoAction->setObjectName(QStringLiteral("actionRedo"));
    redoAction->setParent(this);
    // Both keys wherever the platform's standard names only one of them.
    redoAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    ui->menuActions->addAction(redoAction);
    showToolKeys();
    // Files may have gone since the menu was made: it is remade whenever it may be seen.
    connect(ui->menuFile, &QMenu::aboutToShow, this, &MainWindow::updateRecentMenu);
    updateRecentMenu();

    // The bar shows over the bottom of the canvas: taking room from the canvas would resize
    // it, and every resize rescales the picture.
    ui->verticalLayout->removeWidget(ui->progressBar);
    ui->progressBar->setParent(ui->graphicsView);
    ui->graphicsView->installEventFilter(this);
    ui->progressBar->hide();

    readToolParameters();

    ui->graphicsView->setDocument(&document);
    ui->graphicsView->setAttribute(Qt::WA_Hover);

    connect(&document, &CutDocument::undoFailed, this,
            [this] { setStatus(tr("Undo failed: the saved pixels could not be read")); });
    connect(&document, &CutDocument::redoFailed, this,
            [this] { setStatus(tr("Redo failed: the saved pixels could not be read")); });
    connect(&document, &CutDocument::strokeEnding, this, &MainWindow::finishBrushStroke);
    connect(&document, &CutDocument::progress, ui->progressBar, &QProgressBar::setValue);
    connect(&document, &CutDocument::stageChanged, this, &MainWindow::setStatus);
    connect(&document, &CutDocument::liveMaskReady, this, [this] {
        QImage overlay = document.takeLiveMask();
        if (photoItem && !overlay.isNull())
            showMask(std::move(overlay));
    });
    ui->actionLiveMask->setChecked(settingValue(settings, SettingKeys::LiveMask).toBool());

    brushTimer.setSingleShot(true);
    skipTimer.setSingleShot(true);

    connect(ui->graphicsView, &OvoGraphicsView::AnyBrush, this, &MainWindow::on_BrushMouseEvent);
    connect(ui->graphicsView, &OvoGraphicsView::HandTool, this, &MainWindow::on_HandToolPressed);
    connect(&brushTimer, &QTimer::timeout, this, &MainWindow::on_ProcessBrushMouseEvent);
    connect(&skipTimer, &QTimer::timeout, this, &MainWindow::on_TimeToSkipLastRect);

    skipLastRect = true;
    setUpProjects();
}

MainWindow::~MainWindow()
{
    // The document's last signals (its history cleared) find no autosave left to tell.
    document.disconnect(this);
    delete ui;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->graphicsView && event->type() == QEvent::Resize) {
        const QRect canvas = ui->graphicsView->rect();
        const int height = ui->progressBar->sizeHint().height();
        const int margin = 8;
        ui->progressBar->setGeometry(canvas.left() + margin, canvas.bottom() - height - margin,
                                     canvas.width() - 2 * margin, height);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::saveWindowState()
{
    writeSetting(settings, SettingKeys::WindowGeometry, saveGeometry());
    writeSetting(settings, SettingKeys::WindowState, saveState());
}


void MainWindow::on_actionQuit_triggered()
{
    // Quit ends the program without closing the window first.
    saveWindowState();
    leave();
    emit mwquit();
}

void MainWindow::on_actionZoom_In_triggered()
{
    ui->graphicsView->scale(OvoGraphicsView::zoomInFactor, OvoGraphicsView::zoomInFactor);
}

void MainWindow::on_actionZoom_Out_triggered()
{
    ui->graphicsView->scale(OvoGraphicsView::zoomOutFactor, OvoGraphicsView::zoomOutFactor);
}

void MainWindow::setStatus(const QString &text)
{
    ui->statusBar->showMessage(text);
}
