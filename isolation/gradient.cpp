#include "isolation/gradient.h"

#include "isolation/kernels.h"

#include <cmath>
#include <cstring>
#include <cstdlib>

// Border pixels see only the difference along the border line: 2 x on the line itself,
// 1 x on the adjacent inner line, over 5 (integer division truncates like the float one
// for these non-negative integers).
static uchar borderValue(int onLine, int innerLine) { return uchar(std::abs(2 * onLine + innerLine) / 5); }

void computeGradient(const uchar *votes, qsizetype voteStride, int W, int H, uchar *gradient,
                     qsizetype gradientStride)
{
    if (W <= 0 || H <= 0)
        return;
    const auto in = [&](int y) { return votes + y * voteStride; };
    for (int y = 0; y < H; ++y) {
        uchar *out = gradient + y * gradientStride;
        std::memset(out, 0, size_t(W));
        if (y == 0 || y == H - 1) {
            // A one-row picture has no inner line for its top or bottom formula.
            if (H < 2)
                continue;
            const uchar *line = in(y);
            const uchar *inner = in(y == 0 ? 1 : H - 2);
            for (int x = 1; x < W - 1; ++x)
                out[x] = borderValue(line[x + 1] - line[x - 1], inner[x + 1] - inner[x - 1]);
            continue;
        }
        const uchar *a = in(y - 1);
        const uchar *b = in(y);
        const uchar *c = in(y + 1);
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
}

QImage buildGradientImage(QImage voteImage)
{
    if (voteImage.isNull())
        return {};
    if (voteImage.depth() != 8)
        voteImage = voteImage.convertToFormat(QImage::Format_Grayscale8);
    QImage gradientImage(voteImage.size(), QImage::Format_Indexed8);
    gradientImage.setColorTable(greyColourTable());
    computeGradient(voteImage.constBits(), voteImage.bytesPerLine(), voteImage.width(),
                    voteImage.height(), gradientImage.bits(), gradientImage.bytesPerLine());
    return gradientImage;
}
