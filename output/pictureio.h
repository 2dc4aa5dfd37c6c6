#pragma once

#include <QImage>
#include <QString>

class QIODevice;

// Reads a picture the way the program opens one: format from the content, EXIF
// orientation applied, up to 100 megapixels, converted to Format_ARGB32. A file that is
// missing, not a picture, damaged or too large gives a null image and, if asked, a
// one-line reason. Every picture the program reads comes through here: photos, background
// pictures and marker pictures alike.
QImage readPicture(const QString &path, QString *errorMessage = nullptr);
QImage readPicture(QIODevice *device, QString *errorMessage = nullptr);
// A picture decoded elsewhere (a pasted one), held to the same size limit and converted to
// Format_ARGB32 like a read one; null with a reason when it is too large or empty.
QImage acceptPicture(const QImage &picture, QString *errorMessage = nullptr);
