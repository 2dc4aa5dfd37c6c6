#include "app/optionsdialog.h"
#include "ui_optionsdialog.h"

#include <QSettings>

OptionsDialog::OptionsDialog(QSettings *settings, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::OptionsDialogUi)
    , settings(settings)
{
    ui->setupUi(this);

    const auto intValue = [settings](const char *key, const char *fallback) {
        return settings->value(QLatin1String(key), QLatin1String(fallback)).toInt();
    };
    // Spin boxes clamp values outside their range, so a hand-edited store cannot break them.
    ui->spinBox->setValue(intValue("KEEPMSIZE", "10"));
    ui->spinBox_2->setValue(intValue("REMOVEMSIZE", "10"));
    ui->spinBox_3->setValue(intValue("ERASERMSIZE", "10"));
    ui->spinBox_4->setValue(intValue("KEEPBSIZE", "10"));
    ui->spinBox_5->setValue(intValue("REMOVEBSIZE", "10"));
    ui->spinBox_6->setValue(intValue("KEEPBINTEN", "50"));
    ui->spinBox_7->setValue(intValue("REMOVEBINTEN", "20"));
    ui->spinBox_8->setValue(intValue("BLUEMSIZE", "10"));
    ui->spinBox_9->setValue(intValue("GOUSSIZE", "5"));
    ui->doubleSpinBox->setValue(settings->value(QStringLiteral("MOPACITY"), QStringLiteral("0.6")).toDouble());
    ui->checkBoxSmooth->setChecked(
        settings->value(QStringLiteral("SMOOTHEDGESCHECKED"), QStringLiteral("true")).toBool());
    ui->checkBox->setChecked(false);
}

OptionsDialog::~OptionsDialog()
{
    delete ui;
}

void OptionsDialog::on_buttonBox_accepted()
{
    settings->setValue(QStringLiteral("SAMESIZECHECKED"), ui->checkBox->isChecked());
    settings->setValue(QStringLiteral("SMOOTHEDGESCHECKED"), ui->checkBoxSmooth->isChecked());
    settings->setValue(QStringLiteral("KEEPMSIZE"), ui->spinBox->value());
    settings->setValue(QStringLiteral("REMOVEMSIZE"), ui->spinBox_2->value());
    settings->setValue(QStringLiteral("KEEPBSIZE"), ui->spinBox_4->value());
    settings->setValue(QStringLiteral("REMOVEBSIZE"), ui->spinBox_5->value());
    settings->setValue(QStringLiteral("ERASERMSIZE"), ui->spinBox_3->value());
    settings->setValue(QStringLiteral("MOPACITY"), ui->doubleSpinBox->value());
    settings->setValue(QStringLiteral("KEEPBINTEN"), ui->spinBox_6->value());
    settings->setValue(QStringLiteral("REMOVEBINTEN"), ui->spinBox_7->value());
    settings->setValue(QStringLiteral("BLUEMSIZE"), ui->spinBox_8->value());
    settings->setValue(QStringLiteral("GOUSSIZE"), ui->spinBox_9->value());
}
