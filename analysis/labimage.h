#pragma once

#include <QImage>
#include <QVector>

struct LabValue
{
    qint16 L = 0;
    qint16 a = 0;
    qint16 b = 0;
};

// CIE L*a*b* (D65) of one colour, alpha ignored, each component truncated toward zero, is
// labFromLinear(linearChannel(red), linearChannel(green), linearChannel(blue)), in two
// halves so that callers can tabulate the per-channel one: an 8-bit channel linearised
// and scaled to 0..100, and the rest of the conversion from the three linear channels.
double linearChannel(int value);
const double *linearChannelTable(); // linearChannel of 0..255
LabValue labFromLinear(double R, double G, double B);
// labFromLinear with a quicker cube root, falling back to the exact computation wherever
// the difference could change a truncated component; the result is always identical.
LabValue labFromLinearChecked(double R, double G, double B);

// Whether the picture's 32-bit words can be read directly as the colours QImage::pixel()
// gives (alpha aside); other formats are converted to ARGB32 first.
bool isRawArgb(const QImage &picture);

// The distinct L*a*b* triples of a picture with their pixel counts, numbered in the order
// in which each first occurs when the pixels are visited column by column (x outer, y
// inner). The clustering of a picture depends only on this, and it is far smaller than
// the picture.
struct LabHistogram
{
    QVector<qint16> L;
    QVector<qint16> a;
    QVector<qint16> b;
    QVector<qint64> counts;

    qsizetype size() const { return counts.size(); }
};

// The histogram of a picture's colours, alpha ignored: what the pixels' L*a*b* triples come
// to when grouped.
LabHistogram labHistogram(const QImage &picture);
