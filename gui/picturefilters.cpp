#include "gui/picturefilters.h"

#include <QCoreApplication>

QString pictureFileFilter()
{
    return QCoreApplication::translate("MainWindow",
                                       "Image Files (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif);;All files (*.*)");
}
