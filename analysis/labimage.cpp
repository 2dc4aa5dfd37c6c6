#include "analysis/labimage.h"

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/colourindex.h"

double linearChannel(int value)
{
    double c = value / 255.0;
    if (c > 0.04045)
        c = std::pow((c + 0.055) / 1.055, 2.4);
    else
        c = c / 12.92;
    return c * 100;
}

static double labCurve(double t)
{
    if (t > 0.008856)
        return std::pow(t, 0.3333333333333333);
    return 7.787 * t + 0.13793103448275862;
}

// X, Y, Z over the reference white: the sRGB matrix with four-digit coefficients, D65 white,
// 2 degree observer.
struct RelativeXyz
{
    double x, y, z;
};

static RelativeXyz relativeXyz(double R, double G, double B)
{
    const double X = 0.4124 * R + 0.3576 * G + 0.1805 * B;
    const double Y = 0.2126 * R + 0.7152 * G + 0.0722 * B;
    const double Z = 0.0193 * R + 0.1192 * G + 0.9505 * B;
    return {X / 95.047, Y / 100, Z / 108.883};
}

LabValue labFromLinear(double R, double G, double B)
{
    const RelativeXyz t = relativeXyz(R, G, B);
    const double fx = labCurve(t.x);
    const double fy = labCurve(t.y);
    const double fz = labCurve(t.z);
    LabValue lab;
    // Conversion to an integer truncates toward zero, as wanted.
    lab.L = qint16(116 * fy - 16);
    lab.a = qint16(500 * (fx - fy));
    lab.b = qint16(200 * (fy - fz));
    return lab;
}

namespace {

// The cube root to within a few units in the last place: a guess from the exponent bits
// (within 3.2 %) refined by two Halley steps.
double quickCubeRoot(double t)
{
    quint64 bits;
    std::memcpy(&bits, &t, sizeof bits);
    bits = bits / 3 + 0x2A9F7893782DA1CEull;
    double y;
    std::memcpy(&y, &bits, sizeof y);
    for (int step = 0; step < 2; ++step) {
        const double y3 = y * y * y;
        y = y * (y3 + 2 * t) / (2 * y3 + t);
    }
    return y;
}

double quickLabCurve(double t)
{
    if (t > 0.008856)
        return quickCubeRoot(t);
    return 7.787 * t + 0.13793103448275862;
}

// Whether truncating any value within `margin` of v gives the same integer.
bool truncationCertain(double v, double margin)
{
    return int(v - margin) == int(v + margin);
}

} // namespace

LabValue labFromLinearChecked(double R, double G, double B)
{
    const RelativeXyz t = relativeXyz(R, G, B);
    const double fx = quickLabCurve(t.x);
    const double fy = quickLabCurve(t.y);
    const double fz = quickLabCurve(t.z);
    const double L = 116 * fy - 16;
    const double a = 500 * (fx - fy);
    const double b = 200 * (fy - fz);
    // The quick and the exact curve differ by far less than 1e-10 relative, so the exact
    // L*, a*, b* lie within 1e-6 of these; only near an integer can truncation differ.
    const double margin = 1e-6;
    if (!truncationCertain(L, margin) || !truncationCertain(a, margin) || !truncationCertain(b, margin))
        return labFromLinear(R, G, B);
    return {qint16(L), qint16(a), qint16(b)};
}

const double *linearChannelTable()
{
    static const std::array<double, 256> table = [] {
        std::array<double, 256> values;
        for (int i = 0; i < 256; ++i)
            values[size_t(i)] = linearChannel(i);
        return values;
    }();
    return table.data();
}

bool isRawArgb(const QImage &picture)
{
    // The formats whose stored word is what QImage::pixel() returns, up to alpha.
    return picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
           || picture.format() == QImage::Format_ARGB32_Premultiplied;
}

LabHistogram labHistogram(const QImage &picture)
{
    const QImage argb = isRawArgb(picture) ? picture : picture.convertToFormat(QImage::Format_ARGB32);
    const int w = argb.width();
    const int h = argb.height();
    const uchar *bits = argb.constBits();
    const qsizetype stride = argb.bytesPerLine();
    const double *linear = linearChannelTable();

    // Colour -> triple number, and packed triple -> triple number.
    ColourIndex colours;
    ColourIndex triples;
    std::vector<LabValue> values;
    std::vector<qint64> counts;
    for (int x = 0; x < w; ++x) {
        const uchar *column = bits + qsizetype(x) * 4;
        for (int y = 0; y < h; ++y) {
            const QRgb colour = *reinterpret_cast<const QRgb *>(column + y * stride) & 0xFFFFFF;
            bool newColour;
            int &number = colours.find(colour, newColour);
            if (newColour) {
                const LabValue lab = labFromLinearChecked(linear[qRed(colour)], linear[qGreen(colour)],
                                                          linear[qBlue(colour)]);
                const quint32 key = quint32(lab.L) << 16 | quint32(lab.a + 128) << 8
                                    | quint32(lab.b + 128);
                bool newTriple;
                int &triple = triples.find(key, newTriple);
                if (newTriple) {
                    triple = int(values.size());
                    values.push_back(lab);
                    counts.push_back(0);
                }
                number = triple;
            }
            ++counts[size_t(number)];
        }
    }

    LabHistogram histogram;
    const qsizetype n = qsizetype(values.size());
    histogram.L.resize(n);
    histogram.a.resize(n);
    histogram.b.resize(n);
    histogram.counts = QVector<qint64>(counts.begin(), counts.end());
    for (qsizetype i = 0; i < n; ++i) {
        histogram.L[i] = values[size_t(i)].L;
        histogram.a[i] = values[size_t(i)].a;
        histogram.b[i] = values[size_t(i)].b;
    }
    return histogram;
}
