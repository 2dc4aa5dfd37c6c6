#pragma once

#include <QString>

class QImage;
class QIODevice;

// Writes `image` to `device` as an 8-bit PNG through libpng: grey for an 8-bit grey image,
// RGBA when the image has an alpha channel, RGB otherwise, so that it reads back as the same
// pixels. Filters and zlib
// settings favour speed on photos at about the size of a fast general-purpose setting.
// Returns false on failure, with the reason in `error` when given: for a failed write the
// device's own (the system's) reason.
bool writePng(const QImage &image, QIODevice &device, QString *error = nullptr);
