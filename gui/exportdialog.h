#pragma once

#include <QDialog>

class QSettings;
namespace Ui { class ExportDialogUi; }

// Asks for the export's file and size. OK stays disabled until a file has been chosen; with
// Keep Aspect Ratio checked the height follows the width through the starting ratio.
class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    ExportDialog(int width, int height, QSettings *settings, QWidget *parent = nullptr);
    ~ExportDialog() override;

    void values(int &width, int &height, QString &path) const;

private slots:
    void on_pushButton_clicked();
    void on_spinBox_valueChanged(int value);
    void on_checkBox_toggled(bool checked);

private:
    int heightForExportWidth(int width) const;

    Ui::ExportDialogUi *ui;
    QSettings *settings;
    float ratio;
};
