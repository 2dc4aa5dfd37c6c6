#pragma once

#include <QGraphicsView>

class QSettings;
class QUndoStack;

class OvoGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit OvoGraphicsView(QWidget *parent = nullptr);

    void setSettings(QSettings *store) { settings = store; }
    void setUndoStack(QUndoStack *stack) { undoStack = stack; }
    void readToolSettings();

private:
    QSettings *settings = nullptr;
    QUndoStack *undoStack = nullptr;
};
