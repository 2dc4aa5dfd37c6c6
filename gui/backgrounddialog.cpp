#include "gui/backgrounddialog.h"
#include "ui_backgrounddialog.h"

#include <QColorDialog>
#include <QFileDialog>

#include "gui/picturefilters.h"
#include "session/cutsession.h"

namespace {

constexpr QRgb opaqueWhite = 0xFFFFFFFF;

} // namespace

BackgroundDialog::BackgroundDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::BackgroundDialogUi)
{
    ui->setupUi(this);
}

BackgroundDialog::~BackgroundDialog()
{
    delete ui;
}

void BackgroundDialog::on_whiteradioButton_clicked()
{
    ui->pushButton->setEnabled(false);
    ui->pushButton_2->setEnabled(false);
}

void BackgroundDialog::on_transparentradioButton_clicked()
{
    ui->pushButton->setEnabled(false);
    ui->pushButton_2->setEnabled(false);
}

void BackgroundDialog::on_colorradioButton_clicked()
{
    ui->pushButton->setEnabled(true);
    ui->pushButton_2->setEnabled(false);
}

void BackgroundDialog::on_pictureradioButton_clicked()
{
    ui->pushButton->setEnabled(false);
    ui->pushButton_2->setEnabled(true);
}

void BackgroundDialog::on_pushButton_clicked()
{
    const QColor chosen = QColorDialog::getColor(Qt::white, this,
                                                 tr("Please select the background color"),
                                                 QColorDialog::ShowAlphaChannel);
    if (!chosen.isValid())
        return;
    // Alpha first; a colour with a small alpha is padded on the left with blanks.
    ui->colorlabel->setText(QStringLiteral("%1").arg(chosen.rgba(), 8, 16, QChar(u' ')));
}

void BackgroundDialog::on_pushButton_2_clicked()
{
    // A cancel empties the label, which OK then reads as opaque white.
    ui->picturelabel->setText(QFileDialog::getOpenFileName(this, tr("Open Image"), QString(), pictureFileFilter()));
}

void BackgroundDialog::on_buttonBox_accepted()
{
    changed = true;
    colourChosen = true;
    if (ui->colorradioButton->isChecked()) {
        bool ok = false;
        colour = ui->colorlabel->text().trimmed().toUInt(&ok, 16);
        if (!ok)
            colour = opaqueWhite;
    } else if (ui->whiteradioButton->isChecked()) {
        colour = opaqueWhite;
    } else if (ui->transparentradioButton->isChecked()) {
        // The preview's own default, and peltrix-cut's --background transparent: a JPEG of it
        // comes out the same from both.
        colour = CutSession::defaultBackgroundColour;
    } else if (ui->pictureradioButton->isChecked()) {
        picturePath = ui->picturelabel->text();
        if (picturePath.isEmpty())
            colour = opaqueWhite;
        else
            colourChosen = false;
    }
}
