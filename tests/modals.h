#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

// Runs `fn` on the next modal widget of type T once it is up (polled from the event loop, so
// it also works from inside another modal run).
template <typename T, typename Fn>
void whenModal(Fn fn, int delayMs = 0)
{
    QTimer::singleShot(delayMs, [fn]() {
        if (auto *widget = qobject_cast<T *>(QApplication::activeModalWidget()))
            fn(widget);
        else
            whenModal<T>(fn, 20);
    });
}

// Answers every message box that comes up while it lives (Yes where offered, else OK) and
// keeps their titles and texts.
class MessageBoxAnswerer
{
public:
    MessageBoxAnswerer()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            titles << box->windowTitle();
            texts << box->text();
            QAbstractButton *button = box->button(QMessageBox::Yes);
            if (!button)
                button = box->button(QMessageBox::Ok);
            if (button)
                button->click();
            else
                box->reject();
        });
        timer.start();
    }

    QStringList titles;
    QStringList texts;

private:
    QTimer timer;
};
