#include <QTest>

#include <cmath>

#include "analysis/parallel.h"
#include "output/matte.h"
#include "output/refine.h"

namespace {

// A soft-edged disc of foreground colours over background colours, both with a little
// fixed noise as a camera gives: the picture, its true alpha (0..1) and its true foreground.
struct SoftEdge
{
    QImage photo;
    std::vector<double> alpha;
    QImage foreground;
};

SoftEdge softDisc(int W, int H, double radius, double softness)
{
    SoftEdge s{QImage(W, H, QImage::Format_ARGB32), std::vector<double>(size_t(W) * H), QImage(W, H, QImage::Format_ARGB32)};
    const double cx = W / 2.0, cy = H / 2.0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy) - radius;
            const double a = std::clamp(0.5 - d / softness, 0.0, 1.0);
            auto noise = [x, y](quint32 k) {
                return int(((quint32(x) * 73856093u) ^ (quint32(y) * 19349663u) ^ (k * 83492791u)) % 17u) - 8;
            };
            const QRgb f = qRgb(200 + noise(0), 70 + noise(1), 40 + noise(2));
            const QRgb b = qRgb(30 + noise(3), 100 + noise(4), 180 + noise(5));
            s.alpha[size_t(y) * W + x] = a;
            s.foreground.setPixel(x, y, f);
            s.photo.setPixel(x, y, qRgb(int(std::lround(a * qRed(f) + (1 - a) * qRed(b))),
                                        int(std::lround(a * qGreen(f) + (1 - a) * qGreen(b))),
                                        int(std::lround(a * qBlue(f) + (1 - a) * qBlue(b)))));
        }
    }
    return s;
}

// A disc with thin strands reaching out of it, in the foreground colours, over a background
// of other colours: its photo, true alpha and foreground as for the soft disc.
SoftEdge strandedDisc(int W, int H, double radius, int strands, double length)
{
    SoftEdge s = softDisc(W, H, radius, 1.0);
    const double cx = W / 2.0, cy = H / 2.0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            double &a = s.alpha[size_t(y) * W + x];
            for (int k = 0; k < strands; ++k) {
                // Straight strands 1.2 px wide with a slight turn, their coverage by distance.
                const double angle = 2 * 3.14159265358979 * (k + 0.37 * (k % 3)) / strands;
                const double ux = std::cos(angle), uy = std::sin(angle);
                const double px = x + 0.5 - cx, py = y + 0.5 - cy;
                const double along = px * ux + py * uy;
                if (along < radius - 2 || along > radius + length)
                    continue;
                const double across = std::abs(-px * uy + py * ux - 0.05 * (along - radius));
                a = std::max(a, std::clamp(0.6 + 0.5 - across, 0.0, 1.0));
            }
            const QRgb f = s.foreground.pixel(x, y);
            auto noise = [x, y](quint32 k) {
                return int(((quint32(x) * 73856093u) ^ (quint32(y) * 19349663u) ^ (k * 83492791u)) % 17u) - 8;
            };
            const QRgb b = qRgb(30 + noise(3), 100 + noise(4), 180 + noise(5));
            s.photo.setPixel(x, y, qRgb(int(std::lround(a * qRed(f) + (1 - a) * qRed(b))),
                                        int(std::lround(a * qGreen(f) + (1 - a) * qGreen(b))),
                                        int(std::lround(a * qBlue(f) + (1 - a) * qBlue(b)))));
        }
    }
    return s;
}

// Grayscale8, 255 within the ring from `inner` to `outer` around the picture's middle.
QImage paintedRing(int W, int H, double inner, double outer)
{
    QImage ring(W, H, QImage::Format_Grayscale8);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double d = std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0);
            ring.scanLine(y)[x] = d >= inner && d <= outer ? 255 : 0;
        }
    }
    return ring;
}

// The keep decision of a disc `grow` pixels larger than the soft edge's middle.
QList<qint32> discDecision(int W, int H, double radius)
{
    QList<qint32> keep;
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y) {
            if (std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0) < radius)
                keep.append(y * W + x);
        }
    }
    return keep;
}

} // namespace

class TestRefine : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Parallel::setThreadCount(0); }

    void softEdgeIsRecovered_data();
    void softEdgeIsRecovered();
    void strandsInPaintedRegion();
    void threadCountKeepsBytes_data();
    void threadCountKeepsBytes();
    void degenerateDecisions_data();
    void degenerateDecisions();
};

void TestRefine::softEdgeIsRecovered_data()
{
    QTest::addColumn<double>("softness");
    QTest::addColumn<double>("decisionShift"); // the decision's radius minus the true middle's

    QTest::newRow("6 px ramp, decision on it") << 6.0 << 0.0;
    QTest::newRow("6 px ramp, decision 8 px out") << 6.0 << 8.0;
    QTest::newRow("12 px ramp, decision 6 px in") << 12.0 << -6.0;
    QTest::newRow("sharp edge, decision 4 px out") << 1.0 << 4.0;
}

// Within the stated error: over the band, mean |alpha error| under 0.02 (5 levels) and none
// over 0.1; the soft pixels' colour within 12 levels of the true foreground; far pixels
// exactly as decided, with the photo's colour.
void TestRefine::softEdgeIsRecovered()
{
    QFETCH(double, softness);
    QFETCH(double, decisionShift);
    const int W = 160, H = 140;
    const double radius = 45;
    const SoftEdge edge = softDisc(W, H, radius, softness);
    const RefinedCutout refined = refineEdges(edge.photo, discDecision(W, H, radius + decisionShift));
    QCOMPARE(refined.matte.size(), QSize(W, H));
    QCOMPARE(refined.cutout.size(), QSize(W, H));

    double errorSum = 0, worst = 0;
    int bandPixels = 0, soft = 0, colourOff = 0, haze = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const QRgb m = refined.matte.pixel(x, y);
            const QRgb c = refined.cutout.pixel(x, y);
            const int a = 255 - qBlue(m);
            QCOMPARE(qAlpha(c), a);
            QCOMPARE(qAlpha(m), 255);
            const double error = std::abs(a / 255.0 - edge.alpha[size_t(y) * W + x]);
            errorSum += error;
            worst = std::max(worst, error);
            const double d = std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0) - radius - decisionShift;
            if (d < -refineBandInside - 1 || d > refineBandOutside + 1) {
                QCOMPARE(a, d < 0 ? 255 : 0);
                QCOMPARE(c & 0xFFFFFFu, edge.photo.pixel(x, y) & 0xFFFFFFu);
            } else {
                ++bandPixels;
                // Clearly off the soft edge the band is sure too: no faint haze there.
                const double off = std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0) - radius;
                if (std::abs(off) > softness / 2 + 3)
                    haze += a != (off < 0 ? 255 : 0);
            }
            if (a >= 64 && a <= 191) {
                ++soft;
                const QRgb f = edge.foreground.pixel(x, y);
                colourOff += std::max({std::abs(qRed(c) - qRed(f)), std::abs(qGreen(c) - qGreen(f)),
                                       std::abs(qBlue(c) - qBlue(f))}) > 12;
            }
        }
    }
    QVERIFY2(errorSum / bandPixels < 0.02, qPrintable(QString::number(errorSum / bandPixels)));
    QVERIFY2(worst < 0.1, qPrintable(QString::number(worst)));
    QVERIFY2(colourOff <= soft / 10, qPrintable(QStringLiteral("%1 of %2").arg(colourOff).arg(soft)));
    QVERIFY2(haze <= bandPixels / 100, qPrintable(QStringLiteral("%1 of %2").arg(haze).arg(bandPixels)));
}

// Strands that the decision misses entirely, inside a region painted unknown: within the
// stated error there, and the decision itself everywhere else.
void TestRefine::strandsInPaintedRegion()
{
    const int W = 180, H = 160;
    const double radius = 40;
    const SoftEdge strands = strandedDisc(W, H, radius, 40, 25);
    RefineRegion region;
    region.painted = paintedRing(W, H, radius - 6, radius + 30);
    region.band = false;
    const RefinedCutout refined = refineEdges(strands.photo, discDecision(W, H, radius), region);

    double errorSum = 0;
    int painted = 0, strandPixels = 0, strandsFound = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const int a = 255 - qBlue(refined.matte.pixel(x, y));
            const double truth = strands.alpha[size_t(y) * W + x];
            if (!region.painted.constScanLine(y)[x]) {
                const bool inside = std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0) < radius;
                QCOMPARE(a, inside ? 255 : 0);
                continue;
            }
            ++painted;
            errorSum += std::abs(a / 255.0 - truth);
            if (truth >= 0.5 && std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0) > radius + 2) {
                ++strandPixels;
                strandsFound += a >= 96;
            }
        }
    }
    QVERIFY2(errorSum / painted < 0.03, qPrintable(QString::number(errorSum / painted)));
    QVERIFY2(strandsFound >= strandPixels * 9 / 10, qPrintable(QStringLiteral("%1 of %2").arg(strandsFound).arg(strandPixels)));
}

void TestRefine::threadCountKeepsBytes_data()
{
    QTest::addColumn<bool>("band");
    QTest::addColumn<bool>("painted");
    QTest::addColumn<bool>("outside");

    QTest::newRow("band") << true << false << false;
    QTest::newRow("band and painted") << true << true << false;
    QTest::newRow("painted, a matte around it") << false << true << true;
}

void TestRefine::threadCountKeepsBytes()
{
    QFETCH(bool, band);
    QFETCH(bool, painted);
    QFETCH(bool, outside);
    // Large enough for many reduction blocks and several parts per thread.
    const int W = 420, H = 360;
    const SoftEdge edge = strandedDisc(W, H, 130, 60, 30);
    QList<qint32> keep = discDecision(W, H, 131);
    keep.removeAt(keep.size() / 3); // a hole: a second, tiny unknown area
    RefineRegion region;
    region.band = band;
    if (painted)
        region.painted = paintedRing(W, H, 150, 170);
    if (outside)
        region.outside = smoothedMatte(keep, W, H, true, 5);
    Parallel::setThreadCount(1);
    const RefinedCutout one = refineEdges(edge.photo, keep, region);
    Parallel::setThreadCount(4);
    const RefinedCutout four = refineEdges(edge.photo, keep, region);
    QVERIFY(!one.matte.isNull());
    QCOMPARE(four.matte, one.matte);
    QCOMPARE(four.cutout, one.cutout);
}

void TestRefine::degenerateDecisions_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("keepAll");
    QTest::addColumn<bool>("paintAll");
    QTest::addColumn<int>("expectedAlpha");

    QTest::newRow("nothing kept") << QSize(40, 30) << false << false << 0;
    QTest::newRow("everything kept") << QSize(40, 30) << true << false << 255;
    QTest::newRow("one pixel picture") << QSize(1, 1) << true << false << 255;
    QTest::newRow("one row, nothing kept") << QSize(9, 1) << false << false << 0;
    // Nothing known anywhere: the decision is all there is to go by.
    QTest::newRow("all painted, nothing kept") << QSize(40, 30) << false << true << 0;
    QTest::newRow("all painted, everything kept") << QSize(40, 30) << true << true << 255;
}

// Without an outline there is nothing to refine: the decision comes back as it is.
void TestRefine::degenerateDecisions()
{
    QFETCH(QSize, size);
    QFETCH(bool, keepAll);
    QFETCH(bool, paintAll);
    QFETCH(int, expectedAlpha);
    QImage photo(size, QImage::Format_RGB32);
    photo.fill(qRgb(10, 120, 240));
    QList<qint32> keep;
    for (int i = 0; keepAll && i < size.width() * size.height(); ++i)
        keep.append(i);
    RefineRegion region;
    if (paintAll) {
        region.painted = QImage(size, QImage::Format_Grayscale8);
        region.painted.fill(255);
    }
    const RefinedCutout refined = refineEdges(photo, keep, region);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            QCOMPARE(255 - qBlue(refined.matte.pixel(x, y)), expectedAlpha);
            QCOMPARE(refined.cutout.pixel(x, y), (quint32(expectedAlpha) << 24) | (qRgb(10, 120, 240) & 0xFFFFFFu));
        }
    }
    QVERIFY(refineEdges(QImage(), keep).matte.isNull());
}

QTEST_GUILESS_MAIN(TestRefine)
#include "tst_refine.moc"
