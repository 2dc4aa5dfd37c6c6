#pragma once

#include <QImage>
#include <QSize>

// Pictures prepared for the screen. The window shows 24-megapixel pictures as pixmaps, and a
// pixmap made from a picture it may not take over converts a copy of it into fresh memory,
// which costs more than the picture's own making. These give a picture already in the
// layout raster pixmaps keep (RGB32 where opaque, premultiplied ARGB32 otherwise), made on
// every core in large pages, for QPixmap::fromImage(std::move(...)) to take over as it is.
// The pixels shown are the same as Qt's own conversion gives.

// A copy of `picture` in the pixmaps' layout.
QImage displayCopy(const QImage &picture);

// The same for a picture nobody will change, such as the photo: an opaque one is shown from
// its own memory (kept alive by the result), so that the screen costs no second copy.
QImage displayView(const QImage &picture);

// The chessboard picture `board` (8-bit indexed) scaled to `size` by nearest neighbour, the
// same pixels as board.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation) converted
// to ARGB32, but built row by row from the rows that scaling picks.
QImage scaledBoard(const QImage &board, QSize size);
