#include "gui/exportdialog.h"
#include "ui_exportdialog.h"

#include <QFileDialog>
#include <QPushButton>
#include <QSettings>

#include "session/toolsettings.h"
#include "output/exportcompose.h"

ExportDialog::ExportDialog(int width, int height, QSettings *settings, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ExportDialogUi)
    , settings(settings)
    // An empty picture never reaches the dialog; the guard keeps the ratio finite anyway.
    , ratio(width > 0 ? float(height) / float(width) : 0.0f)
{
    ui->setupUi(this);
    for (QSpinBox *side : {ui->spinBox, ui->spinBox_2})
        side->setMaximum(largestExportSide);
    ui->spinBox->setValue(width); // the range clamps both
    ui->spinBox_2->setValue(height);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
}

ExportDialog::~ExportDialog()
{
    delete ui;
}

void ExportDialog::values(int &width, int &height, QString &path) const
{
    width = ui->spinBox->value();
    height = ui->spinBox_2->value();
    path = ui->label_2->text();
}

int ExportDialog::heightForExportWidth(int width) const
{
    const float height = float(width) * ratio;
    // Clamped before truncation: a very tall picture's ratio would overflow an int.
    return height >= float(largestExportSide) ? largestExportSide : int(height);
}

void ExportDialog::on_pushButton_clicked()
{
    QStringList filters;
    for (const ExportFormat &format : exportFormats()) {
        QStringList patterns;
        for (const QString &suffix : format.suffixes)
            patterns << QStringLiteral("*.") + suffix;
        filters << tr("%1 Files (%2)").arg(format.name, patterns.join(QLatin1Char(' ')));
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("Save File"), currentDir(*settings),
                                                      filters.join(QStringLiteral(";;")));
    if (path.isEmpty())
        return;
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(true);
    ui->label_2->setText(path);
}

void ExportDialog::on_spinBox_valueChanged(int value)
{
    if (ui->checkBox->isChecked())
        ui->spinBox_2->setValue(heightForExportWidth(value));
}

void ExportDialog::on_checkBox_toggled(bool checked)
{
    ui->spinBox_2->setEnabled(!checked);
    if (checked)
        ui->spinBox_2->setValue(heightForExportWidth(ui->spinBox->value()));
}
