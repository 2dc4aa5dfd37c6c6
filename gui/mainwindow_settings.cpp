// Tool parameters: reading them from the store, the size and intensity stepping commands
// and the Preferences command.
#include "gui/mainwindow.h"
#include "gui/optionsdialog.h"
#include "ui_mainwindow.h"

namespace {

// The Preferences ranges; stepping stops at their ends instead of wrapping around.
constexpr int maxToolSize = 99;
constexpr int maxIntensity = 254;

int stepped(int value, int delta, int maximum)
{
    return qBound(0, value + delta, maximum);
}

bool checkedAndEnabled(const QAction *action)
{
    return action->isEnabled() && action->isChecked();
}

} // namespace

void MainWindow::readToolParameters()
{
    tools = ToolSettings::read(settings).inBytes();
    ui->graphicsView->setToolSettings(tools);
    document.setWholeStrokeUndo(tools.undoStrokes);
    document.setIsolationMethod(tools.isolation);
}

void MainWindow::on_actionPreferences_triggered()
{
    OptionsDialog dialog(&settings);
    dialog.exec();
    readToolParameters();
}

void MainWindow::stepToolSize(int delta)
{
    using namespace SettingKeys;
    const auto step = [&](int &size, const SettingKey &key, const QString &message) {
        size = stepped(size, delta, maxToolSize);
        setStatus(message.arg(size));
        writeSetting(settings, key, size);
        ui->graphicsView->setToolSettings(tools);
    };
    const bool sameSize = settingValue(settings, SameSize).toBool();
    if (ui->actionKeep_arker->isEnabled() && (ui->actionKeep_arker->isChecked() || sameSize)) {
        step(tools.keepMarkerSize, KeepMarkerSize,
             ui->actionKeep_arker->isChecked() ? tr("Foreground marker size is %1") : tr("Tool size is %1"));
    } else if (checkedAndEnabled(ui->action_Remove_Marker)) {
        step(tools.removeMarkerSize, RemoveMarkerSize, tr("Background marker size is %1"));
    } else if (checkedAndEnabled(ui->actionEdgeMarker)) {
        step(tools.edgeMarkerSize, EdgeMarkerSize, tr("Edge marker size is %1"));
    } else if (checkedAndEnabled(ui->actionBackground_Brush)) {
        step(tools.removeBrushSize, RemoveBrushSize, tr("Background brush size is %1"));
        ui->graphicsView->resizeOutline(tools.removeBrushSize);
    } else if (checkedAndEnabled(ui->actionForeground_Brush)) {
        step(tools.keepBrushSize, KeepBrushSize, tr("Foreground brush size is %1"));
        ui->graphicsView->resizeOutline(tools.keepBrushSize);
    }
}

void MainWindow::stepBrushIntensity(int delta)
{
    using namespace SettingKeys;
    const auto step = [&](int &intensity, const SettingKey &key, const QString &message) {
        intensity = stepped(intensity, delta, maxIntensity);
        setStatus(message.arg(intensity));
        writeSetting(settings, key, intensity);
    };
    if (checkedAndEnabled(ui->actionBackground_Brush))
        step(tools.removeBrushIntensity, RemoveBrushIntensity, tr("Background brush intensity is %1"));
    else if (checkedAndEnabled(ui->actionForeground_Brush))
        step(tools.keepBrushIntensity, KeepBrushIntensity, tr("Foreground brush intensity is %1"));
}

void MainWindow::on_actionIncreaseToolSize_triggered() { stepToolSize(+1); }
void MainWindow::on_actionDecreaseToolSoze_triggered() { stepToolSize(-1); }
void MainWindow::on_actionIncreaseBrushIntensity_triggered() { stepBrushIntensity(+1); }
void MainWindow::on_actionDecreaseBrushIntensity_triggered() { stepBrushIntensity(-1); }
