#include "gui/optionsdialog.h"
#include "ui_optionsdialog.h"

#include <QSettings>

#include "session/toolsettings.h"

OptionsDialog::OptionsDialog(QSettings *settings, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::OptionsDialogUi)
    , settings(settings)
{
    ui->setupUi(this);
    ui->spinBox_9->setMaximum(largestGaussSize);

    // Spin boxes clamp values outside their range, so a hand-edited store cannot break them.
    const ToolSettings values = ToolSettings::read(*settings, ToolSettings::DialogDefaults);
    ui->spinBox->setValue(values.keepMarkerSize);
    ui->spinBox_2->setValue(values.removeMarkerSize);
    ui->spinBox_3->setValue(values.eraserSize);
    ui->spinBoxEdge->setValue(values.edgeMarkerSize);
    ui->spinBox_4->setValue(values.keepBrushSize);
    ui->spinBox_5->setValue(values.removeBrushSize);
    ui->spinBox_6->setValue(values.keepBrushIntensity);
    ui->spinBox_7->setValue(values.removeBrushIntensity);
    ui->spinBox_8->setValue(values.blueMarkerSize);
    ui->spinBox_9->setValue(values.gaussSize);
    ui->doubleSpinBox->setValue(values.maskOpacity);
    ui->checkBoxSmooth->setChecked(values.smoothEdges);
    ui->checkBoxRefine->setChecked(values.refineEdges);
    ui->checkBox->setChecked(false);
    ui->checkBoxUndoStrokes->setChecked(values.undoStrokes);
    ui->checkBoxFillStrokes->setChecked(values.fillStrokes);
    ui->comboIsolation->setCurrentIndex(values.isolation == IsolationMethod::Precise ? 1 : 0);
}

OptionsDialog::~OptionsDialog()
{
    delete ui;
}

void OptionsDialog::on_buttonBox_accepted()
{
    ToolSettings values;
    values.sameSize = ui->checkBox->isChecked();
    values.smoothEdges = ui->checkBoxSmooth->isChecked();
    values.refineEdges = ui->checkBoxRefine->isChecked();
    values.keepMarkerSize = ui->spinBox->value();
    values.removeMarkerSize = ui->spinBox_2->value();
    values.keepBrushSize = ui->spinBox_4->value();
    values.removeBrushSize = ui->spinBox_5->value();
    values.eraserSize = ui->spinBox_3->value();
    values.edgeMarkerSize = ui->spinBoxEdge->value();
    values.maskOpacity = ui->doubleSpinBox->value();
    values.keepBrushIntensity = ui->spinBox_6->value();
    values.removeBrushIntensity = ui->spinBox_7->value();
    values.blueMarkerSize = ui->spinBox_8->value();
    values.gaussSize = ui->spinBox_9->value();
    values.undoStrokes = ui->checkBoxUndoStrokes->isChecked();
    values.fillStrokes = ui->checkBoxFillStrokes->isChecked();
    values.isolation = ui->comboIsolation->currentIndex() == 1 ? IsolationMethod::Precise
                                                                : IsolationMethod::ColourClusters;
    values.write(*settings);
}
