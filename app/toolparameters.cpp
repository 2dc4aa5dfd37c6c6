// Tool parameters: reading them from the store, the size and intensity stepping commands
// and the Preferences command.
#include "app/mainwindow.h"
#include "app/optionsdialog.h"
#include "ui_mainwindow.h"

namespace {

// The Preferences ranges; stepping stops at their ends instead of wrapping around.
constexpr int maxToolSize = 99;
constexpr int maxIntensity = 254;

quint8 stepped(quint8 value, int delta, int maximum)
{
    return quint8(qBound(0, int(value) + delta, maximum));
}

} // namespace

void MainWindow::readToolParameters()
{
    const auto number = [this](const char *key, const char *fallback) {
        return settings.value(QLatin1String(key), QLatin1String(fallback));
    };
    // An integer read into an 8-bit member keeps its low 8 bits.
    keepMarkerSize = quint8(number("KEEPMSIZE", "10").toInt());
    removeMarkerSize = quint8(number("REMOVEMSIZE", "10").toInt());
    keepBrushSize = quint8(number("KEEPBSIZE", "10").toInt());
    removeBrushSize = quint8(number("REMOVEBSIZE", "10").toInt());
    eraserSize = quint8(number("ERASERMSIZE", "10").toInt());
    maskOpacity = number("MOPACITY", "0.6").toFloat();
    keepBrushIntensity = quint8(number("KEEPBINTEN", "150").toInt());
    removeBrushIntensity = quint8(number("REMOVEBINTEN", "100").toInt());
    smoothEdges = number("SMOOTHEDGESCHECKED", "true").toBool();
    gaussSize = number("GOUSSIZE", "5").toInt();
}

void MainWindow::on_actionPreferences_triggered()
{
    OptionsDialog dialog(&settings);
    dialog.exec();
    readToolParameters();
    ui->graphicsView->readToolSettings();
}

void MainWindow::stepToolSize(int delta)
{
    const auto checkedAndEnabled = [](const QAction *action) {
        return action->isEnabled() && action->isChecked();
    };
    const bool sameSize = settings.value(QStringLiteral("SAMESIZECHECKED"), QStringLiteral("false")).toBool();

    if (ui->actionKeep_arker->isEnabled() && (ui->actionKeep_arker->isChecked() || sameSize)) {
        keepMarkerSize = stepped(keepMarkerSize, delta, maxToolSize);
        setStatus(ui->actionKeep_arker->isChecked() ? tr("Foreground marker size is %1").arg(keepMarkerSize)
                                                    : tr("Tool size is %1").arg(keepMarkerSize));
        settings.setValue(QStringLiteral("KEEPMSIZE"), int(keepMarkerSize));
        ui->graphicsView->readToolSettings();
    } else if (checkedAndEnabled(ui->action_Remove_Marker)) {
        removeMarkerSize = stepped(removeMarkerSize, delta, maxToolSize);
        setStatus(tr("Background marker size is %1").arg(removeMarkerSize));
        settings.setValue(QStringLiteral("REMOVEMSIZE"), int(removeMarkerSize));
        ui->graphicsView->readToolSettings();
    } else if (checkedAndEnabled(ui->actionBackground_Brush)) {
        removeBrushSize = stepped(removeBrushSize, delta, maxToolSize);
        setStatus(tr("Background brush size is %1").arg(removeBrushSize));
        settings.setValue(QStringLiteral("REMOVEBSIZE"), int(removeBrushSize));
        ui->graphicsView->readToolSettings();
        ui->graphicsView->resizeOutline(removeBrushSize);
    } else if (checkedAndEnabled(ui->actionForeground_Brush)) {
        keepBrushSize = stepped(keepBrushSize, delta, maxToolSize);
        setStatus(tr("Foreground brush size is %1").arg(keepBrushSize));
        settings.setValue(QStringLiteral("KEEPBSIZE"), int(keepBrushSize));
        ui->graphicsView->readToolSettings();
        ui->graphicsView->resizeOutline(keepBrushSize);
    }
}

void MainWindow::stepBrushIntensity(int delta)
{
    if (ui->actionBackground_Brush->isEnabled() && ui->actionBackground_Brush->isChecked()) {
        removeBrushIntensity = stepped(removeBrushIntensity, delta, maxIntensity);
        setStatus(tr("Background brush intensity is %1").arg(removeBrushIntensity));
        settings.setValue(QStringLiteral("REMOVEBINTEN"), int(removeBrushIntensity));
    } else if (ui->actionForeground_Brush->isEnabled() && ui->actionForeground_Brush->isChecked()) {
        keepBrushIntensity = stepped(keepBrushIntensity, delta, maxIntensity);
        setStatus(tr("Foreground brush intensity is %1").arg(keepBrushIntensity));
        settings.setValue(QStringLiteral("KEEPBINTEN"), int(keepBrushIntensity));
    }
}

void MainWindow::on_actionIncreaseToolSize_triggered() { stepToolSize(+1); }
void MainWindow::on_actionDecreaseToolSoze_triggered() { stepToolSize(-1); }
void MainWindow::on_actionIncreaseBrushIntensity_triggered() { stepBrushIntensity(+1); }
void MainWindow::on_actionDecreaseBrushIntensity_triggered() { stepBrushIntensity(-1); }
