#pragma once

#include <QDialog>

namespace Ui { class HelpDialogUi; }

// The illustrated user guide. Modeless; OK and Cancel only hide it, the window stays a child
// of its parent until that goes.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HelpDialog(QWidget *parent = nullptr);
    ~HelpDialog() override;

protected:
    void changeEvent(QEvent *event) override;

private:
    void retranslate();
    static QString withTranslatedScreenshots(QString html);

    Ui::HelpDialogUi *ui;
};
