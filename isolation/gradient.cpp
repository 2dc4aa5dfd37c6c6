#include "isolation/gradient.h"

#include "isolation/kernels.h"

#include <cmath>
#include <cstring>
#include <cstdlib>

#include "analysis/parallel.h"

// Border pixels see only the difference along the border line: 2 x on the line itself,
// 1 x on the adjacent inner line, over 5 (integer division truncates like the float one
// for these non-negative integers).
static uchar borderValue(int onLine, int innerLine) { return uchar(std::abs(2 * onLine + innerLine) / 5); }

void gradientRow(int W, const uchar *above, const uchar *row, const uchar *below, uchar *out)
{
    if (W <= 0)
        return;
    std::memset(out, 0, size_t(W));
    if (!above || !below) {
        // The top or bottom row; a one-row picture has no inner line for either formula.
        const uchar *inner = above ? above : below;
        if (!inner)
            return;
        for (int x = 1; x < W - 1; ++x)
            out[x] = borderValue(row[x + 1] - row[x - 1], inner[x + 1] - inner[x - 1]);
        return;
    }
    const uchar *a = above;
    const uchar *b = row;
    const uchar *c = below;
    if (W >= 2) {
        out[0] = borderValue(c[0] - a[0], c[1] - a[1]);
        out[W - 1] = borderValue(c[W - 1] - a[W - 1], c[W - 2] - a[W - 2]);
    }
    for (int x = 1; x < W - 1; ++x) {
        const int gx = (a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]);
        const int gy = (c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]);
        // Single precision is exact enough: the sum stays below 2^21 and is truncated.
        out[x] = uchar(int(std::sqrt(float(gx * gx + gy * gy))) >> 3);
    }
}

QImage buildGradientImage(QImage voteImage)
{
    if (voteImage.isNull())
        return {};
    if (voteImage.depth() != 8)
        voteImage = voteImage.convertToFormat(QImage::Format_Grayscale8);
    const int W = voteImage.width();
    const int H = voteImage.height();
    QImage gradientImage(voteImage.size(), QImage::Format_Indexed8);
    gradientImage.setColorTable(greyColourTable());
    // Row pointers from the calling thread: a non-const scanLine() is not thread-safe.
    const uchar *in = voteImage.constBits();
    const qsizetype inStride = voteImage.bytesPerLine();
    uchar *out = gradientImage.bits();
    const qsizetype outStride = gradientImage.bytesPerLine();
    Parallel::forRange(H, 64, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            gradientRow(W, y > 0 ? in + (y - 1) * inStride : nullptr, in + y * inStride,
                        y < H - 1 ? in + (y + 1) * inStride : nullptr, out + y * outStride);
        }
    });
    return gradientImage;
}
