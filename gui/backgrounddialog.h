#pragma once

#include <QDialog>
#include <QRgb>
#include <QString>

namespace Ui { class BackgroundDialogUi; }

// Chooses what the object is shown and exported over: opaque white, transparent, any colour
// with alpha, or a picture file. It starts fresh each time; the result is read after OK.
class BackgroundDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BackgroundDialog(QWidget *parent = nullptr);
    ~BackgroundDialog() override;

    bool isChanged() const { return changed; }
    bool isColourChosen() const { return colourChosen; }
    QRgb chosenColour() const { return colour; }
    QString chosenPicture() const { return picturePath; }

private slots:
    void on_whiteradioButton_clicked();
    void on_transparentradioButton_clicked();
    void on_colorradioButton_clicked();
    void on_pictureradioButton_clicked();
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_buttonBox_accepted();

private:
    Ui::BackgroundDialogUi *ui;
    bool changed = false;
    bool colourChosen = false;
    QRgb colour = 0;
    QString picturePath;
};
