#include <QTest>

#include <cmath>

#include "analysis/parallel.h"
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
    int bandPixels = 0, soft = 0, colourOff = 0;
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
}

void TestRefine::threadCountKeepsBytes()
{
    // Large enough for many reduction blocks and several parts per thread.
    const int W = 420, H = 360;
    const SoftEdge edge = softDisc(W, H, 130, 5);
    QList<qint32> keep = discDecision(W, H, 131);
    keep.removeAt(keep.size() / 3); // a hole: a second, tiny unknown area
    Parallel::setThreadCount(1);
    const RefinedCutout one = refineEdges(edge.photo, keep);
    Parallel::setThreadCount(4);
    const RefinedCutout four = refineEdges(edge.photo, keep);
    QVERIFY(!one.matte.isNull());
    QCOMPARE(four.matte, one.matte);
    QCOMPARE(four.cutout, one.cutout);
}

void TestRefine::degenerateDecisions_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("keepAll");
    QTest::addColumn<int>("expectedAlpha");

    QTest::newRow("nothing kept") << QSize(40, 30) << false << 0;
    QTest::newRow("everything kept") << QSize(40, 30) << true << 255;
    QTest::newRow("one pixel picture") << QSize(1, 1) << true << 255;
    QTest::newRow("one row, nothing kept") << QSize(9, 1) << false << 0;
}

// Without an outline there is nothing to refine: the decision comes back as it is.
void TestRefine::degenerateDecisions()
{
    QFETCH(QSize, size);
    QFETCH(bool, keepAll);
    QFETCH(int, expectedAlpha);
    QImage photo(size, QImage::Format_RGB32);
    photo.fill(qRgb(10, 120, 240));
    QList<qint32> keep;
    for (int i = 0; keepAll && i < size.width() * size.height(); ++i)
        keep.append(i);
    const RefinedCutout refined = refineEdges(photo, keep);
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
