#pragma once

#include <QDialog>

class QSettings;
namespace Ui { class OptionsDialogUi; }

// Preferences: edits the tool sizes, intensities, mask opacity and edge smoothing in the
// settings store. OK writes them; Cancel writes nothing.
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit OptionsDialog(QSettings *settings, QWidget *parent = nullptr);
    ~OptionsDialog() override;

private slots:
    void on_buttonBox_accepted();

private:
    Ui::OptionsDialogUi *ui;
    QSettings *settings;
};
