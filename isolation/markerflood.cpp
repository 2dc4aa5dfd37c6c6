#include "isolation/markerflood.h"

#include "isolation/columnorder.h"
#include "isolation/kernels.h"
#include "isolation/levelqueue.h"
#include "isolation/marksquares.h"

#include <QDebug>
#include <QMutex>

#include <memory>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "analysis/diagnostics.h"
#include "analysis/parallel.h"

namespace {

// Gradient counts per level, four interleaved so that runs of one value do not wait on
// their own increments; a part of the picture up to 2^32 pixels.
struct LevelTally
{
    quint32 counts[4][256] = {};

    void add(const uchar *values, int n)
    {
        int x = 0;
        for (; x + 4 <= n; x += 4) {
            ++counts[0][values[x]];
            ++counts[1][values[x + 1]];
            ++counts[2][values[x + 2]];
            ++counts[3][values[x + 3]];
        }
        for (; x < n; ++x)
            ++counts[0][values[x]];
    }

    void addTo(std::array<qint64, 256> &total) const
    {
        for (int l = 0; l < 256; ++l)
            total[size_t(l)] += qint64(counts[0][l]) + counts[1][l] + counts[2][l] + counts[3][l];
    }
};

// How far ahead in the level being settled the flood prefetches: far enough for the rows
// to arrive in time, near enough for them to stay in cache.
constexpr int prefetchDistance = 16;

// The flood loop proper. `restrict` lets the compiler keep the queue's state in registers
// across the stores to the plane.
bool settleAll(LevelQueue &queue, quint16 *__restrict plane, qsizetype pitch, qint64 N,
               const ProgressCallback &progress, const std::function<bool()> &cancelled)
{
    enum : unsigned { Settled = MarkerFlood::Settled };
    const qsizetype P = pitch;
    qint64 settled = 0;
    int untilProgress = 10000;
    for (;;) {
        const qint64 p = queue.pop();
        if (p < 0)
            break;
        if (const quint32 *next = queue.ahead(prefetchDistance)) {
            const quint16 *e = plane + *next;
            __builtin_prefetch(e - P, 1);
            __builtin_prefetch(e, 1);
            __builtin_prefetch(e + P, 1);
        }
        const unsigned v = plane[p];
        if (v & Settled)
            continue;
        ++settled;
        if (--untilProgress == 0) {
            untilProgress = 10000;
            // 64 bits: 100 per settled pixel passes 2^31 on a 24-megapixel picture.
            if (progress)
                progress(int(settled * 100 / N));
            if (cancelled && cancelled())
                return false;
        }
        plane[p] = quint16(v | Settled);
        const unsigned mark = v & 3;
        if (mark == 3)
            continue;
        const auto reach = [&](qsizetype q) {
            const unsigned t = plane[q];
            if (t & Settled)
                return;
            if ((t & 0xFF) == 0)
                queue.push(quint32(q), int(t >> 8));
            plane[q] = quint16(t | mark);
        };
        // Columns x - 1 .. x + 1, rows top to bottom within each.
        reach(p - P - 1);
        reach(p - 1);
        reach(p + P - 1);
        reach(p - P);
        reach(p + P);
        reach(p - P + 1);
        reach(p + 1);
        reach(p + P + 1);
    }
    return true;
}

} // namespace

MarkerFlood::MarkerFlood(int width, int height)
    : W(qMax(width, 0)), H(qMax(height, 0)), pitch(qsizetype(W) + 2)
{
    const qint64 elements = qint64(pitch) * (H + 2);
    // Indices are 32 bits wide in the queue.
    Q_ASSERT(elements <= qint64(0xFFFFFFFFu));
    plane = LargeBuffer(size_t(elements) * sizeof(quint16), true);
    Q_CHECK_PTR(plane.data());
}

void MarkerFlood::frameRow(int y) const
{
    quint16 *row = element(-1, y);
    for (qsizetype x = 0; x < pitch; ++x)
        row[x] = Settled;
}

void MarkerFlood::gradientFromLabels(const uchar *labels, qsizetype stride,
                                     const std::array<uchar, 256> &voteOf)
{
    frameRow(-1);
    frameRow(H);
    histogram.fill(0);
    QMutex merging;
    Parallel::forRange(H, 32, [&](qint64 begin, qint64 end) {
        // Locals, which no store through a pixel pointer can be taken to change.
        const int W = this->W;
        const int H = this->H;
        // Three vote rows turn round as the band moves down; then the gradient row.
        std::vector<uchar> buffer(size_t(W) * 4);
        uchar *const gradient = buffer.data() + size_t(W) * 3;
        qint64 held[3] = {-1, -1, -1};
        const auto votes = [&](qint64 y) -> const uchar * {
            const int slot = int(y % 3);
            uchar *row = buffer.data() + size_t(W) * size_t(slot);
            if (held[slot] != y) {
                const uchar *in = labels + y * stride;
                for (int x = 0; x < W; ++x)
                    row[x] = voteOf[in[x]];
                held[slot] = y;
            }
            return row;
        };
        auto tally = std::make_unique<LevelTally>();
        for (qint64 y = begin; y < end; ++y) {
            gradientRow(W, y > 0 ? votes(y - 1) : nullptr, votes(y), y < H - 1 ? votes(y + 1) : nullptr,
                        gradient);
            quint16 *row = element(-1, int(y));
            row[0] = Settled;
            for (int x = 0; x < W; ++x)
                row[x + 1] = quint16(gradient[x] << 8);
            row[W + 1] = Settled;
            tally->add(gradient, W);
        }
        const QMutexLocker lock(&merging);
        tally->addTo(histogram);
    });
}

void MarkerFlood::gradientFromImage(const QImage &gradientImage)
{
    const QImage grey = gradientImage.depth() == 8 ? gradientImage
                                                   : gradientImage.convertToFormat(QImage::Format_Grayscale8);
    const int W = this->W;
    const int H = this->H;
    frameRow(-1);
    frameRow(H);
    histogram.fill(0);
    auto tally = std::make_unique<LevelTally>();
    for (int y = 0; y < H; ++y) {
        const uchar *in = grey.constScanLine(y);
        quint16 *row = element(-1, y);
        row[0] = Settled;
        for (int x = 0; x < W; ++x)
            row[x + 1] = quint16(in[x] << 8);
        row[W + 1] = Settled;
        tally->add(in, W);
    }
    tally->addTo(histogram);
}

bool MarkerFlood::run(const MarkSquares &marks, const ProgressCallback &progress,
                      const QElapsedTimer *clock, const std::function<bool()> &cancelled)
{
    if (clock)
        qCDebug(lcIsolation) << "ws: 1" << clock->elapsed();

    LevelQueue queue(histogram);
    quint16 *const plane = element(-1, -1);
    const qsizetype P = pitch;
    const auto indexOf = [&](int x, int y) { return (qsizetype(y) + 1) * P + x + 1; };

    const auto seed = [&](const PixelSquare &square, unsigned state) {
        for (int y = square.y0; y < square.y1; ++y) {
            quint16 *e = plane + indexOf(square.x0, y);
            for (int i = 0; i < square.x1 - square.x0; ++i)
                e[i] = quint16((e[i] & 0xFF00) | state);
        }
    };
    // The neighbours in the order the fronts visit them: columns x - 1 .. x + 1, rows
    // within each column top to bottom.
    const qsizetype around[8] = {-P - 1, -1, P - 1, -P, P, -P + 1, 1, P + 1};
    const auto startFront = [&](bool keep, unsigned mark) {
        const auto reachAround = [&](int x, int y) {
            const qsizetype p = indexOf(x, y);
            for (qsizetype d : around) {
                const qsizetype q = p + d;
                const unsigned t = plane[q];
                if (t & Settled)
                    continue;
                if ((t & 0xFF) == 0)
                    queue.push(quint32(q), int(t >> 8));
                plane[q] = quint16(t | mark);
            }
        };
        // Column by column; inside the outline every neighbour is a seed already.
        marks.forEachInOrder(keep, [&](const PixelSquare &square) {
            const int last = square.y1 - 1;
            for (int x = square.x0; x < square.x1; ++x) {
                if (x == square.x0 || x == square.x1 - 1) {
                    for (int y = square.y0; y <= last; ++y)
                        reachAround(x, y);
                } else {
                    reachAround(x, square.y0);
                    if (last > square.y0)
                        reachAround(x, last);
                }
            }
        });
    };

    marks.forEachAnyOrder(true, [&](const PixelSquare &square) { seed(square, SettledKeep); });
    startFront(true, KeepMark);
    marks.forEachAnyOrder(false, [&](const PixelSquare &square) { seed(square, Settled | RemoveMark); });
    startFront(false, RemoveMark);

    if (clock)
        qCDebug(lcIsolation) << "ws: 2" << clock->elapsed();

    if (!settleAll(queue, plane, P, qint64(W) * H, progress, cancelled))
        return false;

    if (clock)
        qCDebug(lcIsolation) << "ws: 3" << clock->elapsed();
    return true;
}

// An 8-bit image of one value per plane element, on every core.
template <typename ValueOf>
QImage MarkerFlood::planeImage(const QVector<QRgb> &colours, ValueOf valueOf) const
{
    QImage image(W, H, QImage::Format_Indexed8);
    if (image.isNull())
        return image;
    image.setColorTable(colours);
    uchar *out = image.bits();
    const qsizetype stride = image.bytesPerLine();
    Parallel::forRange(H, 64, [&](qint64 begin, qint64 end) {
        const int W = this->W;
        for (qint64 y = begin; y < end; ++y) {
            const quint16 *row = element(0, int(y));
            uchar *line = out + y * stride;
            for (int x = 0; x < W; ++x)
                line[x] = valueOf(row[x]);
        }
    });
    return image;
}

QImage MarkerFlood::labelImage() const
{
    return planeImage({qRgb(0, 0, 0), qRgb(0, 255, 0), qRgb(255, 0, 0), qRgb(255, 255, 255)},
                      [](quint16 e) { return uchar((e & Settled) ? (e & 3) : 0); });
}

QImage MarkerFlood::gradientImage() const
{
    return planeImage(greyColourTable(), [](quint16 e) { return uchar(e >> 8); });
}

QList<qint32> MarkerFlood::keepIndices() const
{
    return pickedInColumnOrder(
        W, H,
        [this](int y, quint32 *counts) {
            const quint16 *row = element(0, y);
            for (int x = 0; x < W; ++x)
                counts[x] += (row[x] & 0xFF) == SettledKeep;
        },
        [this](int y, int x0, int n, qint32 index, qint64 *cursor, qint32 *out) {
            const quint16 *row = element(x0, y);
            int i = 0;
#ifdef __SSE2__
            // Eight pixels at a time, most of them seldom keep pixels.
            const __m128i low = _mm_set1_epi16(0xFF);
            const __m128i keepState = _mm_set1_epi16(SettledKeep);
            for (; i + 8 <= n; i += 8) {
                const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
                const __m128i states = _mm_and_si128(pixels, low);
                const __m128i equal = _mm_cmpeq_epi16(states, keepState);
                unsigned found = unsigned(_mm_movemask_epi8(_mm_packs_epi16(equal, _mm_setzero_si128())));
                while (found) {
                    const int j = i + __builtin_ctz(found);
                    out[cursor[j]++] = index + j;
                    found &= found - 1;
                }
            }
#endif
            for (; i < n; ++i) {
                if ((row[i] & 0xFF) == SettledKeep)
                    out[cursor[i]++] = index + i;
            }
        });
}
