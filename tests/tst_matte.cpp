#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

#include "analysis/parallel.h"
#include "output/compose.h"
#include "output/exportcompose.h"
#include "output/matte.h"

namespace {

// The blur written the plain way: every byte of both passes summed in double precision,
// through a full intermediate buffer. `keepFlat` keeps bytes whose taps are all equal.
QImage referenceBlur(const QImage &source, int s, double sigma, bool keepFlat)
{
    QImage destination = source.copy();
    if (s < 1)
        return destination;
    const int taps = s % 2 == 0 ? s + 1 : s;
    const int r = taps / 2;
    QVector<double> w(taps);
    double total = 0.0;
    for (int i = 0; i < taps; ++i) {
        const double d = i - r;
        w[i] = std::sqrt(std::exp(-(d * d) / (2 * sigma * sigma)) / (6.283 * sigma * sigma));
    }
    for (int i = 0; i < taps; ++i)
        total += w[i];
    for (int i = 0; i < taps; ++i)
        w[i] /= total;

    const int W = source.width();
    const int H = source.height();
    auto blur = [&](auto tap) {
        double sum = 0.0;
        bool flat = true;
        for (int k = 1; k <= r; ++k) {
            sum += w[r + k] * (tap(-k) + tap(k));
            flat = flat && tap(-k) == tap(0) && tap(k) == tap(0);
        }
        sum += w[r] * tap(0);
        return keepFlat && flat ? uchar(tap(0)) : uchar(sum);
    };
    QImage intermediate(W, H, QImage::Format_ARGB32);
    intermediate.fill(0);
    for (int y = 0; y < H; ++y)
        for (int x = r; x < W - r; ++x)
            for (int c = 0; c < 4; ++c)
                intermediate.scanLine(y)[4 * x + c] =
                    blur([&](int k) { return int(source.constScanLine(y)[4 * (x + k) + c]); });
    for (int y = r; y < H - r; ++y)
        for (int x = r; x < W - r; ++x)
            for (int c = 0; c < 4; ++c)
                destination.scanLine(y)[4 * x + c] =
                    blur([&](int k) { return int(intermediate.constScanLine(y + k)[4 * x + c]); });
    return destination;
}

QImage fastBlur(const QImage &source, int s, double sigma)
{
    QImage destination = source;
    gaussianBlur(source, destination, s, sigma);
    return destination;
}

QList<qint32> keepWhere(int W, int H, const std::function<bool(int, int)> &keep)
{
    QList<qint32> pixels;
    for (int x = 0; x < W; ++x) // column by column, as isolation lists them
        for (int y = 0; y < H; ++y)
            if (keep(x, y))
                pixels.append(y * W + x);
    return pixels;
}

int firstDifference(const QImage &a, const QImage &b)
{
    for (qsizetype i = 0; i < a.sizeInBytes(); ++i)
        if (a.constBits()[i] != b.constBits()[i])
            return int(i);
    return -1;
}

quint32 referenceOver(quint32 o, quint32 b)
{
    const int a = qAlpha(o);
    const int bA = qAlpha(b);
    const int outA = (a * 255 + bA * (255 - a)) / 255;
    if (outA == 0)
        return b;
    auto channel = [&](int oc, int bc) { return (oc * a * 255 + bc * bA * (255 - a)) / (outA * 255); };
    return qRgba(channel(qRed(o), qRed(b)), channel(qGreen(o), qGreen(b)),
                 channel(qBlue(o), qBlue(b)), outA);
}

QImage referenceCompose(const QImage &background, const QImage &object, QPoint offset)
{
    QImage result = background.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x) {
            const QPoint p(x - offset.x(), y - offset.y());
            if (object.rect().contains(p))
                result.setPixel(x, y, referenceOver(object.pixel(p), result.pixel(x, y)));
        }
    return result;
}

QImage randomImage(int W, int H, quint32 seed, const std::function<quint32(quint32)> &shape)
{
    QRandomGenerator random(seed);
    QImage image(W, H, QImage::Format_ARGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            image.setPixel(x, y, shape(random.generate()));
    return image;
}

} // namespace

class TestMatte : public QObject
{
    Q_OBJECT

private slots:
    void weights_data();
    void weights();
    void matteAndSmoothingSwitch();
    void singlePixelBecomesGreySquare();
    void borderBandKeepsHardEdge();
    void flatAreasStayFlat();
    void summationOrder_data();
    void summationOrder();
    void fastEqualsPlain_data();
    void fastEqualsPlain();
    void noBlurBelowSizeOneOrBeyondThePicture();
    void progressAndStages();
    void cutout();
    void composeOverExhaustive();
    void composeMatchesReference_data();
    void composeMatchesReference();
    void sameBytesOnAnyNumberOfThreads_data();
    void sameBytesOnAnyNumberOfThreads();
};

void TestMatte::weights_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QVector<double>>("expected");
    QTest::newRow("5") << 5 << QVector<double>{0.11170, 0.23648, 0.30364, 0.23648, 0.11170};
    // An even size takes one more tap but keeps its own sigma: exp(-d^2 / (4 * 0.64)).
    QVector<double> four(5);
    double sum = 0;
    for (int i = 0; i < 5; ++i)
        sum += four[i] = std::exp(-(i - 2.0) * (i - 2.0) / 2.56);
    for (double &w : four)
        w /= sum;
    QTest::newRow("4") << 4 << four;
    QTest::newRow("1") << 1 << QVector<double>{1.0};
    QTest::newRow("0") << 0 << QVector<double>{};
    QTest::newRow("-3") << -3 << QVector<double>{};
}

void TestMatte::weights()
{
    QFETCH(int, size);
    QFETCH(QVector<double>, expected);
    const QVector<double> w = gaussianWeights(size, size / 5.0);
    QCOMPARE(w.size(), expected.size());
    for (int i = 0; i < w.size(); ++i)
        QVERIFY2(std::abs(w[i] - expected[i]) < 5e-5, qPrintable(QString::number(w[i])));
    QVERIFY(gaussianWeights(5, 0.0).isEmpty());
}

void TestMatte::matteAndSmoothingSwitch()
{
    const int W = 7, H = 5;
    const QList<qint32> keep{2 * W + 3, 0, W * H - 1, -1, W * H, 2 * W + 3};
    const QImage matte = buildMatte(keep, W, H);
    QCOMPARE(matte.format(), QImage::Format_ARGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const bool black = (x == 3 && y == 2) || (x == 0 && y == 0) || (x == W - 1 && y == H - 1);
            QCOMPARE(matte.pixel(x, y), black ? 0xFF000000u : 0xFFFFFFFFu);
        }
    QCOMPARE(smoothedMatte(keep, W, H, false, 5), matte);

    QImage white(40, 30, QImage::Format_ARGB32);
    white.fill(0xFFFFFFFFu);
    QCOMPARE(smoothedMatte({}, 40, 30, false, 5), white);
    for (int size : {5, 6, 7, 9, 10, 13})
        QCOMPARE(smoothedMatte({}, 40, 30, true, size), white);
}

void TestMatte::singlePixelBecomesGreySquare()
{
    const int W = 15, H = 13, cx = 7, cy = 6;
    const QImage smoothed = smoothedMatte({cy * W + cx}, W, H, true, 5);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const bool inSquare = std::abs(x - cx) <= 2 && std::abs(y - cy) <= 2;
            const QRgb p = smoothed.pixel(x, y);
            QCOMPARE(qAlpha(p), 255);
            QCOMPARE(qRed(p), qBlue(p));
            QCOMPARE(qGreen(p), qBlue(p));
            QVERIFY2(inSquare == (qBlue(p) < 255), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
    QVERIFY(std::abs(qBlue(smoothed.pixel(cx, cy)) - 231) <= 1);
}

void TestMatte::borderBandKeepsHardEdge()
{
    // An object touching the left and top borders.
    const int W = 30, H = 20;
    const QImage matte = buildMatte(keepWhere(W, H, [](int x, int y) { return x < 8 && y < 6; }), W, H);
    for (int size : {5, 9}) {
        const int r = size / 2;
        const QImage smoothed = fastBlur(matte, size, size / 5.0);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (x < r || y < r || x >= W - r || y >= H - r)
                    QCOMPARE(smoothed.pixel(x, y), matte.pixel(x, y));
        QVERIFY(smoothed != matte);
    }
}

void TestMatte::flatAreasStayFlat()
{
    // A square in the middle: flat white around it, flat black inside, greys in between.
    const int W = 64, H = 56;
    const QImage matte = buildMatte(keepWhere(W, H, [](int x, int y) {
        return x >= 20 && x < 44 && y >= 18 && y < 40;
    }), W, H);
    for (int size : {5, 6, 7, 9, 10, 13}) {
        const QImage plain = referenceBlur(matte, size, size / 5.0, false);
        const QImage smoothed = fastBlur(matte, size, size / 5.0);
        // Flat bytes keep their value in each pass; every other byte is the plain sum of
        // that pass's input.
        QCOMPARE(smoothed, referenceBlur(matte, size, size / 5.0, true));
        QCOMPARE(qBlue(smoothed.pixel(W / 2, 10)), 255); // flat white, more than r from the square
        QCOMPARE(qBlue(smoothed.pixel(W / 2, H / 2)), 0);
        bool plainLosesWhite = false;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                QCOMPARE(qAlpha(smoothed.pixel(x, y)), 255);
                const QRgb p = plain.pixel(x, y);
                plainLosesWhite = plainLosesWhite || qBlue(p) == 254 || qBlue(p) == 253 || qAlpha(p) < 255;
            }
        // Size 5 needs no flat rule; the others would leave a ghost of the background.
        QCOMPARE(plainLosesWhite, size != 5);
        if (size == 5)
            QCOMPARE(smoothed, plain);
    }
    // Size 5 keeps every flat value by itself, so the flat rule never changes it.
    for (int v = 0; v < 256; ++v) {
        QImage flat(11, 11, QImage::Format_ARGB32);
        flat.fill(qRgba(v, v, v, v));
        QCOMPARE(referenceBlur(flat, 5, 1.0, false), flat);
    }
}

void TestMatte::summationOrder_data()
{
    // Windows whose truncated sum depends on the order of the additions; `expected` is the
    // pairs-nearest-first, centre-last order (the others give one more or one less).
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("window");
    QTest::addColumn<int>("expected");
    QTest::newRow("6 a") << 6 << QList<int>{229, 165, 165, 165, 165, 165, 101} << 164;
    QTest::newRow("6 b") << 6 << QList<int>{94, 95, 94, 94, 94, 93, 94} << 94;
    QTest::newRow("7 a") << 7 << QList<int>{132, 132, 241, 132, 23, 132, 132} << 132;
    QTest::newRow("7 b") << 7 << QList<int>{96, 59, 96, 96, 96, 133, 96} << 95;
    QTest::newRow("8") << 8 << QList<int>{205, 224, 224, 224, 224, 224, 224, 224, 243} << 223;
    QTest::newRow("9") << 9 << QList<int>{136, 136, 143, 136, 136, 136, 129, 136, 136} << 135;
    QTest::newRow("10") << 10 << QList<int>{54, 73, 54, 54, 54, 54, 54, 54, 54, 35, 54} << 54;
    QTest::newRow("13") << 13 << QList<int>{174, 202, 202, 202, 202, 202, 202, 202, 202, 202, 202, 202, 230} << 201;
}

void TestMatte::summationOrder()
{
    QFETCH(int, size);
    QFETCH(QList<int>, window);
    QFETCH(int, expected);
    const int n = int(window.size());
    const int r = n / 2;
    // The window along a row (the other direction flat), then along a column.
    QImage across(n, n, QImage::Format_ARGB32);
    QImage down(n, n, QImage::Format_ARGB32);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const int v = window[x];
            const int u = window[y];
            across.setPixel(x, y, qRgba(v, v, v, v));
            down.setPixel(x, y, qRgba(u, u, u, u));
        }
    QCOMPARE(fastBlur(across, size, size / 5.0).pixel(r, r), qRgba(expected, expected, expected, expected));
    QCOMPARE(fastBlur(down, size, size / 5.0).pixel(r, r), qRgba(expected, expected, expected, expected));
    QCOMPARE(referenceBlur(across, size, size / 5.0, true).pixel(r, r), qRgba(expected, expected, expected, expected));
}

void TestMatte::fastEqualsPlain_data()
{
    QTest::addColumn<QImage>("source");
    auto matteOf = [](int W, int H, const std::function<bool(int, int)> &keep) {
        return buildMatte(keepWhere(W, H, keep), W, H);
    };
    QTest::newRow("blob") << matteOf(61, 47, [](int x, int y) {
        return (x - 30) * (x - 30) * 3 + (y - 22) * (y - 22) * 5 < 1500 + (x * 7 + y * 3) % 40;
    });
    QTest::newRow("thin lines") << matteOf(53, 41, [](int x, int y) {
        return x == 20 || y == 17 || x == y || (x == 40 && y % 2 == 0);
    });
    QTest::newRow("checkerboard") << matteOf(37, 33, [](int x, int y) { return (x + y) % 2 == 0; });
    QTest::newRow("stripes") << matteOf(40, 36, [](int x, int) { return x % 3 == 0; });
    QRandomGenerator random(7);
    QVector<bool> noise(50 * 45);
    for (bool &n : noise)
        n = random.bounded(100) < 40;
    QTest::newRow("noise") << matteOf(50, 45, [noise](int x, int y) { return noise[y * 50 + x]; });
    QTest::newRow("sparse random") << matteOf(64, 40, [](int x, int y) { return (x * 131 + y * 71) % 97 < 3; });
    QTest::newRow("all black") << matteOf(30, 30, [](int, int) { return true; });
    QTest::newRow("narrow") << matteOf(9, 40, [](int x, int y) { return x + y / 4 > 6; });
    QTest::newRow("short") << matteOf(40, 9, [](int x, int y) { return x / 3 + y > 8; });
    QTest::newRow("tiny") << matteOf(3, 2, [](int x, int) { return x == 1; });
    // Not a matte: every byte its own value, and a few flat patches.
    QTest::newRow("any bytes") << randomImage(45, 38, 11, [](quint32 v) {
        return (v & 0x300) == 0 ? 0xFF808080u : v;
    });
    QTest::newRow("matte with a grey") << randomImage(48, 40, 5, [](quint32 v) {
        return v % 50 == 0 ? 0xFF7F7F7Fu : (v % 3 == 0 ? 0xFF000000u : 0xFFFFFFFFu);
    });
}

void TestMatte::fastEqualsPlain()
{
    QFETCH(QImage, source);
    for (int size : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 21}) {
        const double sigma = size / 5.0;
        const int at = firstDifference(fastBlur(source, size, sigma),
                                       referenceBlur(source, size, sigma, true));
        QVERIFY2(at < 0, qPrintable(QStringLiteral("size %1, byte %2").arg(size).arg(at)));
    }
}

void TestMatte::noBlurBelowSizeOneOrBeyondThePicture()
{
    const QImage matte = buildMatte({5 * 20 + 5}, 20, 20);
    QImage destination(20, 20, QImage::Format_ARGB32);
    destination.fill(0x12345678u);
    const QImage before = destination.copy();
    // From 20 on the radius reaches half the side: no pixel is blurred, whatever the size
    // (a hand-edited store may hold any).
    for (int size : {0, -5, 20, 21, 1'000'000'000, std::numeric_limits<int>::max()}) {
        gaussianBlur(matte, destination, size, size / 5.0);
        QCOMPARE(destination, before);
        QCOMPARE(smoothedMatte({5 * 20 + 5}, 20, 20, true, size), matte);
    }
    gaussianBlur(matte, destination, 5, 0.0);
    QCOMPARE(destination, before);
}

void TestMatte::progressAndStages()
{
    QList<int> values;
    QStringList stages;
    smoothedMatte({45}, 20, 10, true, 5, [&](int v) { values.append(v); },
                  [&](const char *stage, qint64 ns) {
                      QVERIFY(ns >= 0);
                      stages.append(QString::fromLatin1(stage));
                  });
    // Horizontal rows 0..9, then vertical rows 2..7.
    QCOMPARE(values, (QList<int>{0, 4, 9, 13, 18, 22, 27, 31, 36, 40, 54, 58, 63, 67, 72, 76}));
    QCOMPARE(stages, (QStringList{"matte", "blur"}));
    stages.clear();
    smoothedMatte({45}, 20, 10, false, 5, {}, [&](const char *stage, qint64) {
        stages.append(QString::fromLatin1(stage));
    });
    QCOMPARE(stages, QStringList{"matte"});
}

void TestMatte::cutout()
{
    const QImage photo = randomImage(9, 7, 3, [](quint32 v) { return v; });
    QImage matte(6, 8, QImage::Format_ARGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 6; ++x)
            matte.setPixel(x, y, qRgba(x * 40, 200, (x * 37 + y * 29) % 256, 255));
    const QImage cut = buildCutout(photo, matte);
    QCOMPARE(cut.format(), QImage::Format_ARGB32);
    QCOMPARE(cut.size(), photo.size());
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const QRgb p = photo.pixel(x, y);
            const int alpha = x < 6 ? 255 - qBlue(matte.pixel(x, y)) : qAlpha(p);
            QCOMPARE(cut.pixel(x, y), qRgba(qRed(p), qGreen(p), qBlue(p), alpha));
        }
    // A matte handed over becomes the cut-out when nothing else holds it.
    QImage fullMatte = randomImage(9, 7, 4, [](quint32 v) { return v; });
    const QImage expected = buildCutout(photo, fullMatte);
    const uchar *memory = fullMatte.constBits();
    const QImage handedOver = buildCutout(photo, std::move(fullMatte));
    QCOMPARE(handedOver, expected);
    QCOMPARE(handedOver.constBits(), memory);
    // An RGB32 photo outside the matte stays opaque.
    const QImage opaque = buildCutout(photo.convertToFormat(QImage::Format_RGB32), QImage());
    QCOMPARE(opaque, photo.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32));
}

void TestMatte::composeOverExhaustive()
{
    // Object: o along x, a along y; every b in turn, each channel differently.
    QImage object(256, 256, QImage::Format_ARGB32);
    for (int a = 0; a < 256; ++a)
        for (int o = 0; o < 256; ++o)
            object.setPixel(o, a, qRgba(o, 255 - o, (o * 7) & 255, a));
    QImage background(256, 256, QImage::Format_ARGB32);
    for (int b = 0; b < 256; ++b) {
        // Over an opaque background: the plain weighted mean, and opaque.
        const QRgb under = qRgba(b, (b * 3) & 255, 255 - b, 255);
        background.fill(under);
        QImage result = composeOver(background, object, QPoint(0, 0));
        for (int a = 0; a < 256; ++a) {
            const QRgb *line = reinterpret_cast<const QRgb *>(result.constScanLine(a));
            const QRgb *top = reinterpret_cast<const QRgb *>(object.constScanLine(a));
            auto mix = [a](int oc, int bc) { return (oc * a + bc * (255 - a)) / 255; };
            for (int o = 0; o < 256; ++o)
                if (line[o] != qRgba(mix(qRed(top[o]), qRed(under)), mix(qGreen(top[o]), qGreen(under)),
                                     mix(qBlue(top[o]), qBlue(under)), 255))
                    QFAIL(qPrintable(QStringLiteral("a %1 o %2 b %3").arg(a).arg(o).arg(b)));
        }
        // Over a transparent one: the object's own pixel; alpha 0 over alpha 0 keeps the
        // background's (invisible) colour.
        background.fill(qRgba(b, 255 - b, b / 2, 0));
        result = composeOver(background, object, QPoint(0, 0));
        for (int a = 0; a < 256; ++a)
            for (int o = 0; o < 256; ++o)
                if (result.pixel(o, a) != (a == 0 ? background.pixel(o, a) : object.pixel(o, a)))
                    QFAIL(qPrintable(QStringLiteral("transparent: a %1 o %2 b %3").arg(a).arg(o).arg(b)));
    }
    // An alpha-128 pixel over opaque white comes out opaque.
    QImage white(1, 1, QImage::Format_ARGB32);
    white.fill(0xFFFFFFFFu);
    QImage half(1, 1, QImage::Format_ARGB32);
    half.fill(qRgba(10, 100, 200, 128));
    QCOMPARE(composeOver(white, half, {}).pixel(0, 0),
             qRgba((10 * 128 + 255 * 127) / 255, (100 * 128 + 255 * 127) / 255, (200 * 128 + 255 * 127) / 255, 255));
}

void TestMatte::composeMatchesReference_data()
{
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QSize>("objectSize");
    QTest::newRow("inside") << QPoint(5, 4) << QSize(20, 15);
    QTest::newRow("negative, clipped") << QPoint(-7, -3) << QSize(20, 15);
    QTest::newRow("over the far edges") << QPoint(25, 20) << QSize(20, 15);
    QTest::newRow("larger than the background") << QPoint(-4, -6) << QSize(50, 50);
    QTest::newRow("entirely outside") << QPoint(-30, 2) << QSize(20, 15);
    QTest::newRow("far away") << QPoint(2000000000, -2000000000) << QSize(20, 15);
}

void TestMatte::composeMatchesReference()
{
    QFETCH(QPoint, offset);
    QFETCH(QSize, objectSize);
    // Alphas 0 and 255 often, any value sometimes; backgrounds opaque, transparent or between.
    auto alphaMix = [](quint32 v) {
        const quint32 pick = (v >> 24) % 4;
        const quint32 alpha = pick == 0 ? 0 : pick == 1 ? 255 : (v >> 16) & 0xFF;
        return (alpha << 24) | (v & 0xFFFFFF);
    };
    const QImage object = randomImage(objectSize.width(), objectSize.height(), 21, alphaMix);
    const QImage background = randomImage(32, 24, 22, alphaMix);
    const QImage expected = referenceCompose(background, object, offset);
    const QImage untouched = background.copy();
    QCOMPARE(composeOver(background, object, offset), expected);
    QCOMPARE(background, untouched);
    QImage canvas = background; // shared: composing must not reach the background
    composeOverInPlace(canvas, object, offset);
    QCOMPARE(canvas, expected);
    QCOMPARE(background, untouched);
}

void TestMatte::sameBytesOnAnyNumberOfThreads_data()
{
    // Tall enough for every stage to split into several bands of rows.
    const int W = 97, H = 230;
    auto blob = [](int x, int y) {
        return (x - 50) * (x - 50) * 4 + (y - 110) * (y - 110) < 4000 + (x * 13 + y * 7) % 900;
    };
    QTest::addColumn<QList<qint32>>("keep");
    QTest::addColumn<int>("size");
    QTest::newRow("column order, size 5") << keepWhere(W, H, blob) << 5;
    QTest::newRow("column order, size 14") << keepWhere(W, H, blob) << 14;
    QList<qint32> rowOrder;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (blob(x, y) || (x * y) % 37 == 0)
                rowOrder.append(y * W + x);
    QTest::newRow("row order") << rowOrder << 9;
    QList<qint32> withStrays = keepWhere(W, H, blob);
    withStrays.insert(withStrays.size() / 2, 3 * W + 1);
    withStrays.append({-5, W * H, 0});
    QTest::newRow("out of place and invalid entries") << withStrays << 5;
}

void TestMatte::sameBytesOnAnyNumberOfThreads()
{
    QFETCH(QList<qint32>, keep);
    QFETCH(int, size);
    const int W = 97, H = 230;
    const QImage photo = randomImage(W, H, 31, [](quint32 v) { return v; });
    QImage expectedMatte(W, H, QImage::Format_ARGB32);
    expectedMatte.fill(0xFFFFFFFFu);
    for (const qint32 v : keep)
        if (v >= 0 && v < W * H)
            expectedMatte.setPixel(v % W, v / W, 0xFF000000u);
    const QImage expectedSmooth = referenceBlur(expectedMatte, size, size / 5.0, true);

    QImage firstCutout, firstExport;
    for (int threads : {1, 2, 4}) {
        Parallel::setThreadCount(threads);
        const QString at = QStringLiteral("%1 threads").arg(threads);
        QVERIFY2(buildMatte(keep, W, H) == expectedMatte, qPrintable(at));
        const QImage smooth = smoothedMatte(keep, W, H, true, size);
        QVERIFY2(smooth == expectedSmooth, qPrintable(at));
        QVERIFY2(fastBlur(expectedMatte, size, size / 5.0) == expectedSmooth, qPrintable(at));
        const QImage cutout = buildCutout(photo, smooth);
        const QImage exported = composeExport(0x80FF2010u, QSize(W, H), QSize(W, H), cutout,
                                              QPoint(-9, 14), QSize(W, H));
        if (threads == 1) {
            firstCutout = cutout;
            firstExport = exported;
        }
        QVERIFY2(cutout == firstCutout, qPrintable(at));
        QVERIFY2(exported == firstExport, qPrintable(at));
    }
    Parallel::setThreadCount(0);
}

QTEST_GUILESS_MAIN(TestMatte)
#include "tst_matte.moc"
