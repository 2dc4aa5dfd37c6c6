#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <deque>
#include <random>

#include "analysis/analysis.h"
#include "analysis/parallel.h"
#include "isolation/flood.h"
#include "isolation/gradient.h"
#include "isolation/isolation.h"
#include "isolation/levelqueue.h"
#include "isolation/maxflow.h"
#include "isolation/precise.h"
#include "isolation/markers.h"
#include "isolation/vote.h"
#include "reference/pointlists.h"
#include "session/cutsession.h"

using Points = QList<QPoint>;
using Centres = QList<QList<qint16>>;
using Bytes = QList<int>;

Q_DECLARE_METATYPE(MarkerDab)

// An 8-bit indexed image from row-major values.
static QImage bytesImage(int W, int H, const Bytes &values)
{
    QImage image(W, H, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey.append(qRgb(i, i, i));
    image.setColorTable(grey);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x)
            image.scanLine(y)[x] = uchar(values.at(y * W + x));
    }
    return image;
}

static Bytes imageBytes(const QImage &image)
{
    Bytes values;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            values.append(image.constScanLine(y)[x]);
    }
    return values;
}

static Points columnOrder(int x0, int x1, int y0, int y1)
{
    Points points;
    for (int x = x0; x <= x1; ++x) {
        for (int y = y0; y <= y1; ++y)
            points.append(QPoint(x, y));
    }
    return points;
}

// The flood exactly as first described: a label image, two mark planes, every arrival
// queued, pop scanning the levels from 0. The optimised flood must match it bit for bit.
static QImage referenceFlood(const QImage &gradient, Points keep, Points remove,
                             QList<int> *progressValues = nullptr)
{
    const int W = gradient.width();
    const int H = gradient.height();
    // Points off the picture are not markers.
    const auto outside = [&](const QPoint &p) { return p.x() < 0 || p.y() < 0 || p.x() >= W || p.y() >= H; };
    keep.removeIf(outside);
    remove.removeIf(outside);
    std::vector<std::deque<qint32>> levels(256);
    QImage labels(W, H, QImage::Format_Indexed8);
    labels.setColorTable({qRgb(0, 0, 0), qRgb(0, 255, 0), qRgb(255, 0, 0), qRgb(255, 255, 255)});
    labels.fill(0);
    QImage keepMarks = labels;
    QImage removeMarks = labels;
    uchar *lab = labels.bits();
    uchar *km = keepMarks.bits();
    uchar *rm = removeMarks.bits();
    const qsizetype S = labels.bytesPerLine();
    const auto level = [&](qsizetype p) { return gradient.constScanLine(p / S)[p % S]; };
    const auto pop = [&]() -> qint32 {
        for (auto &fifo : levels) {
            if (!fifo.empty()) {
                const qint32 p = fifo.front();
                fifo.pop_front();
                return p;
            }
        }
        return -1;
    };
    const auto seedFront = [&](const Points &points, uchar *marks, uchar mark) {
        for (const QPoint &pt : points) {
            for (int i = pt.x() - 1; i <= pt.x() + 1; ++i) {
                for (int j = pt.y() - 1; j <= pt.y() + 1; ++j) {
                    if (i >= 0 && i < W && j >= 0 && j < H && labels.pixelIndex(i, j) == 0) {
                        const qint32 p = qint32(j * S + i);
                        levels[level(p)].push_back(p);
                        marks[p] = mark;
                    }
                }
            }
        }
    };
    for (const QPoint &pt : keep)
        labels.setPixel(pt, 1);
    seedFront(keep, km, 1);
    for (const QPoint &pt : remove)
        labels.setPixel(pt, 2);
    seedFront(remove, rm, 2);

    const qint64 N = qint64(W) * H;
    qint64 settled = 0;
    for (qint32 p = pop(); p != -1; p = pop()) {
        if (lab[p] != 0)
            continue;
        if (++settled % 10000 == 0 && progressValues)
            progressValues->append(int(settled * 100 / N));
        const uchar label = uchar(km[p] + rm[p]);
        lab[p] = label;
        if (label == 3)
            continue;
        const int y = int(p / S);
        const int x = int(p % S);
        for (int i = x - 1; i <= x + 1; ++i) {
            for (int j = y - 1; j <= y + 1; ++j) {
                const qint32 q = qint32(j * S + i);
                if (i >= 0 && i < W && j >= 0 && j < H && (i != x || j != y) && lab[q] == 0) {
                    levels[level(q)].push_back(q);
                    (label == 1 ? km : rm)[q] = label;
                }
            }
        }
    }
    return labels;
}

static QList<qint32> keepIndices(const QImage &labels)
{
    QList<qint32> indices;
    for (int x = 0; x < labels.width(); ++x) {
        for (int y = 0; y < labels.height(); ++y) {
            if (labels.pixelIndex(x, y) == 1)
                indices.append(y * labels.width() + x);
        }
    }
    return indices;
}

// A label map of at most 30 indices from a photo: a fixed 3 x 5 x 2 grid over RGB, with
// each cell's mean colour as its centre.
static void quantise(const QImage &photo, QImage &labelMap, Centres &centres)
{
    const QImage rgb = photo.convertToFormat(QImage::Format_RGB32);
    labelMap = bytesImage(rgb.width(), rgb.height(), Bytes(rgb.width() * rgb.height(), 0));
    qint64 sums[30][4] = {};
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = rgb.pixel(x, y);
            const int cell = (qRed(c) * 3 / 256) * 10 + (qGreen(c) * 5 / 256) * 2 + qBlue(c) / 128;
            labelMap.scanLine(y)[x] = uchar(cell);
            sums[cell][0] += qRed(c);
            sums[cell][1] += qGreen(c);
            sums[cell][2] += qBlue(c);
            ++sums[cell][3];
        }
    }
    centres.clear();
    for (auto &sum : sums) {
        const qint64 n = qMax<qint64>(sum[3], 1);
        centres.append({qint16(sum[0] / n), qint16(sum[1] / n), qint16(sum[2] / n)});
    }
}

// Strokes as a user draws them: keep dabs across the middle, remove dabs around the frame,
// and scattered dabs of both kinds, some overlapping, some crossing the border.
static QList<MarkerDab> strokesFor(QSize size, quint32 seed)
{
    std::mt19937 random(seed);
    const double W = size.width();
    const double H = size.height();
    QList<MarkerDab> dabs;
    for (double t = 0; t <= 1.0; t += 0.05)
        dabs.append({true, QRectF(W * (0.4 + 0.2 * t), H * 0.5, 4, 4)});
    for (double t = 0; t <= 1.0; t += 0.02) {
        dabs.append({false, QRectF(W * t, 1.5, 6, 6)});
        dabs.append({false, QRectF(W * t, H - 4.2, 6, 6)});
        dabs.append({false, QRectF(1.2, H * t, 5, 5)});
    }
    std::uniform_real_distribution<double> x(-3, W), y(-3, H), side(1, 9), wide(10, 40);
    for (int i = 0; i < 40; ++i) {
        const double s = side(random);
        dabs.append({i % 3 == 0, QRectF(x(random), y(random), s, s)});
    }
    // Large squares over each other and over the strokes, of both kinds.
    for (int i = 0; i < 6; ++i) {
        const double s = wide(random);
        dabs.append({i % 2 == 0, QRectF(x(random), y(random), s, s)});
    }
    std::reverse(dabs.begin(), dabs.end());
    return dabs;
}

// A marker picture with painted green and red strokes, faint and half-hidden pixels, and
// colours that are not clearly either.
static QImage paintedMarks(QSize size, quint32 seed)
{
    std::mt19937 random(seed);
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    const QRgb inks[] = {qRgba(20, 230, 30, 255), qRgba(240, 10, 10, 255), qRgba(20, 230, 30, 120),
                         qRgba(200, 150, 20, 255), qRgba(255, 60, 60, 200)};
    for (int stroke = 0; stroke < 12; ++stroke) {
        const QRgb ink = inks[random() % 5];
        int x = int(random() % uint(size.width()));
        int y = int(random() % uint(size.height()));
        for (int step = 0; step < 60; ++step) {
            x = qBound(0, x + int(random() % 5) - 2, size.width() - 1);
            y = qBound(0, y + int(random() % 5) - 2, size.height() - 1);
            picture.setPixel(x, y, ink);
        }
    }
    return picture;
}

class TestIsolation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void cornerTest_data();
    void cornerTest();
    void rasterise_data();
    void rasterise();
    void harvestKeepsStackingOrder();

    void votes_data();
    void votes();
    void votesOfHugeClusterDoNotWrap();
    void voteDebugLines();

    void gradient_data();
    void gradient();

    void flood_data();
    void flood();
    void floodProgressEvery10000Settled();
    void floodReadsGradientThroughItsOwnStride();

    void levelQueueAcrossBlocks();
    void keepPixelsInColumnOrder();
    void matchesReferenceOnPhotos_data();
    void matchesReferenceOnPhotos();
    void matchesReferenceOnLongQueues_data();
    void matchesReferenceOnLongQueues();
    void markerMemoryFollowsThePicture();
    void sameBytesOnAnyThreadCount();

    void maxFlowFindsMinimumCut();
    void preciseKeepsFarRegionThatClustersFlip();
    void preciseHonoursEveryMark_data();
    void preciseHonoursEveryMark();
};

void TestIsolation::cornerTest_data()
{
    QTest::addColumn<QPointF>("corner");
    QTest::addColumn<bool>("accepted");
    const QSizeF scene(100, 50);
    QTest::newRow("inside") << QPointF(10.5, 20.9) << true;
    QTest::newRow("column 0") << QPointF(0.99, 20) << false;
    QTest::newRow("row 0") << QPointF(10, 0.5) << false;
    QTest::newRow("just left of 0 truncates to 0") << QPointF(-0.7, 20) << false;
    QTest::newRow("first pixel inside") << QPointF(1.0, 1.0) << true;
    QTest::newRow("last column") << QPointF(99.9, 49.9) << true;
    QTest::newRow("right edge") << QPointF(100.0, 20) << false;
    QTest::newRow("bottom edge") << QPointF(10, 50.0) << false;
}

void TestIsolation::cornerTest()
{
    QFETCH(QPointF, corner);
    QFETCH(bool, accepted);
    QCOMPARE(dabCornerAccepted(corner, QSizeF(100, 50)), accepted);
}

void TestIsolation::rasterise_data()
{
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<Points>("expected");
    // Picture 20 x 12.
    QTest::newRow("height ignored, fractions truncated")
        << QRectF(10.7, 3.2, 5, 2) << columnOrder(10, 14, 3, 7);
    QTest::newRow("left edge at -3") << QRectF(-3, 2, 5, 5) << columnOrder(0, 1, 2, 6);
    QTest::newRow("-0.5 truncates to 0") << QRectF(-0.5, -0.5, 2, 2) << columnOrder(0, 1, 0, 1);
    QTest::newRow("clipped right and bottom") << QRectF(18, 10, 5, 5) << columnOrder(18, 19, 10, 11);
    QTest::newRow("corner at (W, H)") << QRectF(20, 12, 5, 5) << Points();
    QTest::newRow("beyond the picture") << QRectF(21, 3, 5, 5) << Points();
    QTest::newRow("width below 1") << QRectF(5, 5, 0.9, 3) << Points();
    QTest::newRow("entirely above") << QRectF(5, -9, 4, 4) << Points();
    QTest::newRow("not a number") << QRectF(qQNaN(), 2, 4, 4) << Points();
    QTest::newRow("absurd size") << QRectF(-1e12, -1e12, 1e13, 1e13) << columnOrder(0, 19, 0, 11);
}

void TestIsolation::rasterise()
{
    QFETCH(QRectF, rect);
    QFETCH(Points, expected);
    Points points{QPoint(7, 7)};
    rasteriseMarker(rect, 20, 12, points);
    QCOMPARE(points, Points{QPoint(7, 7)} + expected);
}

void TestIsolation::harvestKeepsStackingOrder()
{
    const QList<MarkerDab> newestFirst = {
        {false, QRectF(5, 5, 1, 1)},
        {true, QRectF(1, 1, 2, 1)},
        {false, QRectF(0, 0, 1, 1)},
        {true, QRectF(3, 0, 1, 1)},
        {true, QRectF(30, 0, 1, 1)},
    };
    Points keep, remove;
    harvestMarkers(newestFirst, 10, 10, keep, remove);
    QCOMPARE(keep, (Points{{1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 0}}));
    QCOMPARE(remove, (Points{{5, 5}, {0, 0}}));
}

void TestIsolation::votes_data()
{
    QTest::addColumn<Bytes>("labels");     // 4 x 2
    QTest::addColumn<Centres>("centres");
    QTest::addColumn<Points>("keep");
    QTest::addColumn<Points>("remove");
    QTest::addColumn<Bytes>("expected");

    const Bytes labels{0, 0, 1, 1, 2, 2, 3, 3};
    const Centres four{{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {90, 0, 0}};
    QTest::newRow("no markers") << labels << four << Points() << Points() << Bytes(8, 127);
    QTest::newRow("only keep markers") << labels << four << Points{{0, 0}} << Points()
                                       << Bytes(8, 255);
    QTest::newRow("only remove markers") << labels << four << Points() << Points{{2, 1}}
                                         << Bytes(8, 0);
    QTest::newRow("3 keep 1 remove") << labels << four << Points{{0, 0}, {1, 0}, {0, 0}}
                                     << Points{{1, 0}} << Bytes{191, 191, 191, 191, 191, 191, 191, 191};
    // Cluster 1 keeps (1 vote) and cluster 2 has 1 keep, 2 remove; cluster 0 is nearer 1,
    // cluster 3 nearer 2.
    QTest::newRow("1 keep 2 remove") << labels << four << Points{{2, 0}, {0, 1}}
                                     << Points{{1, 1}, {1, 1}} << Bytes{255, 255, 255, 255, 85, 85, 85, 85};
    // Cluster 1 sits halfway between clusters 0 (keep) and 2 (remove): the lower index wins.
    QTest::newRow("equidistant") << labels << four << Points{{0, 0}} << Points{{0, 1}}
                                 << Bytes{255, 255, 255, 255, 0, 0, 0, 0};
    QTest::newRow("equidistant, roles swapped") << labels << four << Points{{1, 1}}
                                                << Points{{1, 0}} << Bytes{0, 0, 0, 0, 255, 255, 255, 255};
    // Nothing nearer than 924075: the first marked cluster.
    const Centres far{{0, 0, 0}, {-600, 600, 600}, {600, 600, 600}, {-600, -600, -600}};
    QTest::newRow("too far to compare") << labels << far << Points{{2, 0}} << Points{{0, 1}}
                                        << Bytes{255, 255, 255, 255, 0, 0, 255, 255};
    // Labels without a centre keep their own votes and never substitute.
    QTest::newRow("label beyond the centres") << Bytes{0, 0, 5, 5, 5, 5, 1, 1}
                                              << Centres{{0, 0, 0}, {50, 0, 0}}
                                              << Points{{2, 0}} << Points{{0, 0}}
                                              << Bytes{0, 0, 255, 255, 255, 255, 0, 0};
}

void TestIsolation::votes()
{
    QFETCH(Bytes, labels);
    QFETCH(Centres, centres);
    QFETCH(Points, keep);
    QFETCH(Points, remove);
    QFETCH(Bytes, expected);
    const QImage labelMap = bytesImage(4, 2, labels);
    const QImage vote = buildVoteImage(labelMap, keep, remove, centres);
    QCOMPARE(vote.format(), QImage::Format_Indexed8);
    QCOMPARE(vote.colorCount(), 256);
    QCOMPARE(vote.color(200), qRgba(200, 200, 200, 255));
    QCOMPARE(imageBytes(vote), expected);
    QCOMPARE(imageBytes(labelMap), labels);
}

void TestIsolation::votesOfHugeClusterDoNotWrap()
{
    // 255 * 8 421 505 passes 2^31: with 64 bits the share stays a byte, 254.
    const QImage labelMap = bytesImage(2, 1, {0, 1});
    const Points keep(8421505, QPoint(0, 0));
    const QImage vote = buildVoteImage(labelMap, keep, Points{{0, 0}}, Centres{{0, 0, 0}, {1, 0, 0}});
    QCOMPARE(imageBytes(vote), (Bytes{254, 254}));
}

void TestIsolation::voteDebugLines()
{
    QLoggingCategory::setFilterRules(QStringLiteral("peltrix.isolation.debug=true"));
    QTest::ignoreMessage(QtDebugMsg, "mapped lenth 2: QList(0, 2)");
    QTest::ignoreMessage(QtDebugMsg, "unmapped lenth 1: QList(1)");
    QTest::ignoreMessage(QtDebugMsg, "umcentersmap QMap((1, 0))");
    buildVoteImage(bytesImage(3, 1, {0, 1, 2}), Points{{0, 0}}, Points{{2, 0}},
                   Centres{{0, 0, 0}, {1, 0, 0}, {3, 0, 0}});
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestIsolation::gradient_data()
{
    QTest::addColumn<int>("W");
    QTest::addColumn<int>("H");
    QTest::addColumn<Bytes>("votes");
    QTest::addColumn<Bytes>("expected");

    QTest::newRow("uniform") << 5 << 4 << Bytes(20, 127) << Bytes(20, 0);
    Bytes step, stepGradient;
    for (int y = 0; y < 5; ++y) {
        step += Bytes{0, 0, 0, 0, 0, 255, 255, 255, 255, 255};
        const int edge = (y == 0 || y == 4) ? 153 : 127;
        stepGradient += Bytes{0, 0, 0, 0, edge, edge, 0, 0, 0, 0};
    }
    QTest::newRow("vertical step") << 10 << 5 << step << stepGradient;
    QTest::newRow("strongest interior, border both ways")
        << 3 << 3 << Bytes{0, 0, 0, 0, 0, 255, 255, 255, 255}
        << Bytes{0, 51, 0, 153, 142, 153, 0, 51, 0};
    QTest::newRow("falling step, corners stay 0")
        << 4 << 3 << Bytes{255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0}
        << Bytes{0, 153, 153, 0, 0, 127, 127, 0, 0, 153, 153, 0};
    QTest::newRow("width 1") << 1 << 4 << Bytes{0, 255, 0, 255} << Bytes(4, 0);
    QTest::newRow("height 1") << 4 << 1 << Bytes{0, 255, 0, 255} << Bytes(4, 0);
    // 2 * 101 + 255 = 457 -> 91; 2 * 255 + 101 = 611 -> 122.
    QTest::newRow("width 2") << 2 << 3 << Bytes{0, 0, 0, 255, 101, 255} << Bytes{0, 0, 91, 122, 0, 0};
    // Top: 2 * 200 = 400 -> 80, 2 * 245 + 50 = 540 -> 108; bottom: 200 -> 40, 100 + 245 -> 69.
    QTest::newRow("height 2") << 4 << 2 << Bytes{0, 10, 200, 255, 0, 0, 0, 50}
                              << Bytes{0, 80, 108, 0, 0, 40, 69, 0};
}

void TestIsolation::gradient()
{
    QFETCH(int, W);
    QFETCH(int, H);
    QFETCH(Bytes, votes);
    QFETCH(Bytes, expected);
    const QImage gradient = buildGradientImage(bytesImage(W, H, votes));
    QCOMPARE(gradient.format(), QImage::Format_Indexed8);
    QCOMPARE(gradient.size(), QSize(W, H));
    QCOMPARE(gradient.color(77), qRgba(77, 77, 77, 255));
    QCOMPARE(imageBytes(gradient), expected);
}

void TestIsolation::flood_data()
{
    QTest::addColumn<int>("W");
    QTest::addColumn<int>("H");
    QTest::addColumn<Bytes>("gradient");
    QTest::addColumn<Points>("keep");
    QTest::addColumn<Points>("remove");
    QTest::addColumn<Bytes>("labels");

    QTest::newRow("only keep") << 4 << 3 << Bytes(12, 0) << Points{{2, 1}} << Points()
                               << Bytes(12, 1);
    QTest::newRow("1 x 1") << 1 << 1 << Bytes{7} << Points{{0, 0}} << Points() << Bytes{1};
    QTest::newRow("no points") << 3 << 2 << Bytes(6, 0) << Points() << Points() << Bytes(6, 0);
    QTest::newRow("only remove") << 3 << 2 << Bytes(6, 9) << Points() << Points{{0, 0}}
                                 << Bytes(6, 2);
    // Keep and remove on one pixel: a remove seed whose neighbours both fronts queued.
    QTest::newRow("keep and remove on one pixel") << 3 << 3 << Bytes(9, 0) << Points{{0, 0}}
                                                  << Points{{0, 0}} << Bytes{2, 3, 0, 3, 3, 0, 0, 0, 0};
    // The keep front was seeded first, so at equal levels it moves first.
    QTest::newRow("fronts meet") << 5 << 1 << Bytes(5, 0) << Points{{0, 0}} << Points{{4, 0}}
                                 << Bytes{1, 1, 3, 2, 2};
    QTest::newRow("fronts meet, keep first") << 4 << 1 << Bytes(4, 0) << Points{{0, 0}}
                                             << Points{{3, 0}} << Bytes{1, 1, 3, 2};
    QTest::newRow("fronts meet, keep first, mirrored") << 4 << 1 << Bytes(4, 0) << Points{{3, 0}}
                                                       << Points{{0, 0}} << Bytes{2, 3, 1, 1};
    // (3,0) leaves level 1 first and queues (2,0) at level 0, below the last pop; (1,0),
    // queued by keep at 9 and later by remove, is a boundary pixel.
    QTest::newRow("lower levels first") << 5 << 1 << Bytes{0, 9, 0, 1, 0} << Points{{0, 0}}
                                        << Points{{4, 0}} << Bytes{1, 3, 2, 2, 2};
    QTest::newRow("255 is a level") << 4 << 1 << Bytes{0, 255, 255, 0} << Points{{0, 0}}
                                    << Points() << Bytes(4, 1);
    // Both seeds queue the low centre diagonally; it becomes boundary, then the fronts
    // settle the level-200 pixels in arrival order and the remove front slips down to the
    // level-0 corner in between.
    QTest::newRow("diagonal neighbours") << 3 << 3 << Bytes{0, 200, 200, 200, 0, 200, 200, 200, 0}
                                         << Points{{0, 0}} << Points{{2, 0}} << Bytes{1, 3, 2, 1, 3, 2, 1, 3, 2};
    QTest::newRow("duplicates and points outside") << 3 << 1 << Bytes(3, 0)
                                                   << Points{{0, 0}, {0, 0}, {-1, 0}, {3, 0}}
                                                   << Points{{5, 5}} << Bytes(3, 1);
}

void TestIsolation::flood()
{
    QFETCH(int, W);
    QFETCH(int, H);
    QFETCH(Bytes, gradient);
    QFETCH(Points, keep);
    QFETCH(Points, remove);
    QFETCH(Bytes, labels);
    const QImage gradientImage = bytesImage(W, H, gradient);
    const QImage floodLabels = floodLabelImage(gradientImage, keep, remove);
    QCOMPARE(imageBytes(floodLabels), labels);
    QCOMPARE(imageBytes(referenceFlood(gradientImage, keep, remove)), labels);
    QCOMPARE(floodLabels.colorCount(), 4);
    QCOMPARE(floodLabels.color(3), qRgb(255, 255, 255));

    Points expected;
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y) {
            if (labels.at(y * W + x) == 1)
                expected.append(QPoint(x, y));
        }
    }
    Points result;
    QCOMPARE(floodFromMarkers(gradientImage, keep, remove, result, {}), 0);
    QCOMPARE(result, expected);
}

void TestIsolation::floodProgressEvery10000Settled()
{
    // 19 999 pixels settle through the queue: one report, at the 10 000th.
    QList<int> reports;
    Points result;
    floodFromMarkers(bytesImage(200, 100, Bytes(20000, 0)), Points{{0, 0}}, Points(), result,
                     [&](int percent) { reports.append(percent); });
    QCOMPARE(reports, QList<int>{50});
    QCOMPARE(result.size(), 20000);
    QCOMPARE(result.at(100), QPoint(1, 0));
}

void TestIsolation::floodReadsGradientThroughItsOwnStride()
{
    // Rows wider than a fresh image's get a note, and the gradient is still read by (x, y):
    // the padding holds junk that a shifted read would pick up.
    std::mt19937 random(5);
    const int W = 7, H = 6, stride = 16;
    uchar buffer[stride * H];
    for (uchar &b : buffer)
        b = uchar(random() % 256);
    const QImage strided(buffer, W, H, stride, QImage::Format_Indexed8);
    const QImage packed = bytesImage(W, H, imageBytes(strided));
    const Points keep{{1, 1}, {2, 4}}, remove{{6, 0}, {5, 5}, {4, 2}};

    QLoggingCategory::setFilterRules(QStringLiteral("peltrix.isolation.debug=true"));
    QTest::ignoreMessage(QtDebugMsg, "different scanlines");
    for (int line = 0; line < 4; ++line)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^ws: [1-4] \\d+$")));
    QTest::ignoreMessage(QtDebugMsg, "Done");
    Points result;
    floodFromMarkers(strided, keep, remove, result, {});
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    Points expected;
    const QImage labels = referenceFlood(packed, keep, remove);
    for (qint32 index : keepIndices(labels))
        expected.append(QPoint(index % W, index / W));
    QCOMPARE(result, expected);
}

void TestIsolation::levelQueueAcrossBlocks()
{
    // Long levels emptied and refilled, and a push below the level being read.
    std::array<qint64, LevelQueue::Levels> capacity{};
    capacity[0] = 3;
    capacity[200] = capacity[255] = 3 * 5000;
    LevelQueue queue(capacity);
    QCOMPARE(queue.pop(), qint64(-1));
    for (int round = 0; round < 3; ++round) {
        for (quint32 i = 0; i < 5000; ++i) {
            queue.push(i, 200);
            queue.push(100000 + i, 255);
        }
        for (quint32 i = 0; i < 2500; ++i)
            QCOMPARE(queue.pop(), qint64(i));
        queue.push(7, 0);
        QCOMPARE(queue.pop(), qint64(7));
        for (quint32 i = 2500; i < 5000; ++i)
            QCOMPARE(queue.pop(), qint64(i));
        for (quint32 i = 0; i < 5000; ++i)
            QCOMPARE(queue.pop(), qint64(100000 + i));
        QCOMPARE(queue.pop(), qint64(-1));
    }
}

void TestIsolation::keepPixelsInColumnOrder()
{
    // Every pixel a seed: the keep seeds come back as y * W + x, column by column.
    const Points keep{{1, 0}, {0, 2}, {1, 1}};
    Points remove;
    for (const QPoint &p : columnOrder(0, 3, 0, 2)) {
        if (!keep.contains(p))
            remove.append(p);
    }
    const QImage labelMap = bytesImage(4, 3, Bytes(12, 0));
    QStringList stages;
    IsolationHooks hooks;
    hooks.stageTimer = [&](const char *stage, qint64 ns) {
        QVERIFY(ns >= 0);
        stages.append(QString::fromLatin1(stage));
    };
    QCOMPARE(isolateKeepPixels(labelMap, keep, remove, Centres{{0, 0, 0}}, hooks),
             (QList<qint32>{8, 1, 5}));
    QCOMPARE(stages, (QStringList{"vote", "gradient", "flood", "keep"}));
    QVERIFY(isolateKeepPixels(labelMap, Points(), Points(), Centres{{0, 0, 0}}).isEmpty());
    QVERIFY(isolateKeepPixels(QImage(), keep, remove, Centres{{0, 0, 0}}).isEmpty());
    QVERIFY(buildGradientImage(buildVoteImage(QImage(), keep, remove, {})).isNull());
}

void TestIsolation::matchesReferenceOnPhotos_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QSize>("size");
    const QString folder = QStringLiteral("/usr/share/backgrounds/mate/nature/");
    QTest::newRow("ladybird") << folder + "LadyBird.jpg" << QSize(240, 150);
    QTest::newRow("garden") << folder + "Garden.jpg" << QSize(203, 131);
    QTest::newRow("two wings") << folder + "TwoWings.jpg" << QSize(160, 97);
    QTest::newRow("synthetic blobs") << QString() << QSize(150, 110);
}

void TestIsolation::matchesReferenceOnPhotos()
{
    QFETCH(QString, photo);
    QFETCH(QSize, size);
    QImage picture;
    if (photo.isEmpty()) {
        // Overlapping discs of random colours on a noisy ground.
        picture = QImage(size, QImage::Format_RGB32);
        std::mt19937 random(7);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x)
                picture.setPixel(x, y, qRgb(int(random() % 40), 90 + int(random() % 40), int(random() % 256)));
        }
        for (int disc = 0; disc < 25; ++disc) {
            const int cx = int(random() % uint(size.width())), cy = int(random() % uint(size.height()));
            const int r = 4 + int(random() % 20);
            const QRgb colour = qRgb(int(random() % 256), int(random() % 256), int(random() % 256));
            for (int y = qMax(0, cy - r); y < qMin(size.height(), cy + r); ++y) {
                for (int x = qMax(0, cx - r); x < qMin(size.width(), cx + r); ++x) {
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
                        picture.setPixel(x, y, colour);
                }
            }
        }
    } else {
        if (!QFile::exists(photo))
            QSKIP("sample photo not installed");
        picture = QImage(photo).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY(!picture.isNull());
    }
    QImage labelMap;
    Centres centres;
    quantise(picture, labelMap, centres);

    for (quint32 seed : {1u, 2u, 3u}) {
        // The third set adds a marker picture, which counts after the dabs.
        MarkerSet markers{strokesFor(size, seed), seed == 3 ? paintedMarks(size, seed) : QImage()};
        Points keep, remove;
        harvestMarkerSet(markers, size.width(), size.height(), keep, remove);
        const QImage votes = buildVoteImage(labelMap, keep, remove, centres);
        const QImage gradient = buildGradientImage(votes);
        const QImage expected = referenceFlood(gradient, keep, remove);
        QCOMPARE(imageBytes(floodLabelImage(gradient, keep, remove)), imageBytes(expected));
        const QList<qint32> keepPixels = isolateKeepPixels(labelMap, keep, remove, centres);
        QCOMPARE(keepPixels, keepIndices(expected));
        QVERIFY(!keepPixels.isEmpty());
        QVERIFY(keepPixels.size() < size.width() * size.height());

        // Read from the marker set without point lists: the same stages, point for point.
        const IsolationStages stages = isolateByStages(labelMap, markers, centres);
        QCOMPARE(imageBytes(stages.votes), imageBytes(votes));
        QCOMPARE(imageBytes(stages.gradient), imageBytes(gradient));
        QCOMPARE(imageBytes(stages.floodLabels), imageBytes(expected));
        QCOMPARE(stages.keepPixels, keepPixels);
        QCOMPARE(isolateKeepPixels(labelMap, markers, centres), keepPixels);
    }
}

void TestIsolation::matchesReferenceOnLongQueues_data()
{
    QTest::addColumn<int>("pattern");
    QTest::newRow("one wide front") << 0;
    QTest::newRow("thousands waiting at 255") << 1;
    QTest::newRow("bands of levels") << 2;
    QTest::newRow("photo's grey values") << 3;
}

void TestIsolation::matchesReferenceOnLongQueues()
{
    // Long fronts and crowded waiting levels; the photo's grey values put every level in use
    // with many ties.
    QFETCH(int, pattern);
    const int W = 240, H = 160;
    QImage photo;
    if (pattern == 3) {
        photo = QImage(QStringLiteral("/usr/share/backgrounds/mate/nature/Storm.jpg"));
        if (photo.isNull())
            QSKIP("sample photo not installed");
        photo = photo.scaled(W, H).convertToFormat(QImage::Format_Grayscale8);
    }
    Bytes values;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            switch (pattern) {
            case 0: values.append(0); break;
            case 1: values.append(x % 2 ? 255 : 0); break;
            case 2: values.append((y / 3 * 37 + x / 5 * 11) % 256); break;
            default: values.append(photo.constScanLine(y)[x]); break;
            }
        }
    }
    const QImage gradient = bytesImage(W, H, values);
    Points keep{{3, 4}, {120, 80}, {121, 80}}, remove{{230, 150}, {10, 140}, {121, 80}};
    std::mt19937 random(11);
    for (int round = 0; round < 2; ++round) {
        QList<int> expectedProgress, progress;
        const QImage expected = referenceFlood(gradient, keep, remove, &expectedProgress);
        const QImage labels = floodLabelImage(gradient, keep, remove, [&](int p) { progress.append(p); });
        QCOMPARE(imageBytes(labels), imageBytes(expected));
        QCOMPARE(progress, expectedProgress);
        QVERIFY(imageBytes(labels).contains(3));
        // Denser seeds for the next round, some pixels both keep and remove.
        for (int i = 0; i < 40; ++i) {
            const QPoint p(int(random() % W), int(random() % H));
            (random() % 2 ? keep : remove).append(p);
            if (i % 7 == 0)
                keep.append(p);
        }
    }
}

static qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

void TestIsolation::markerMemoryFollowsThePicture()
{
    // 2000 dabs of side 200 on a 400 x 300 picture: rasterised into point lists they take
    // 360 MB; read in place, the isolation needs a few bytes per picture pixel.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || statusBytes("VmHWM:") < 0)
        QSKIP("no resident-memory figures on this system");
    const QSize size(400, 300);
    QImage photo(size, QImage::Format_RGB32);
    std::mt19937 random(3);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 255 / size.width(), int(random() % 60), y * 255 / size.height()));
    }
    QImage labelMap;
    Centres centres;
    quantise(photo, labelMap, centres);
    MarkerSet markers;
    // Keep squares over the left part, remove squares over the right, both over the middle.
    std::uniform_int_distribution<int> left(-100, 100), right(150, 380), top(-100, 250);
    for (int i = 0; i < 2000; ++i) {
        const bool keep = i % 2 == 0;
        markers.newestFirst.append({keep, QRectF(keep ? left(random) : right(random), top(random), 200, 200)});
    }

    clearRefs.write("5");
    clearRefs.flush();
    const qint64 before = statusBytes("VmRSS:");
    const QList<qint32> keepPixels = isolateKeepPixels(labelMap, markers, centres);
    const qint64 growth = statusBytes("VmHWM:") - before;
    QVERIFY2(growth < 32 * 1024 * 1024 + 16 * qint64(size.width()) * size.height(),
             qPrintable(QStringLiteral("resident memory grew by %1 MB").arg(growth / 1e6)));

    // The dabs cover every pixel, so every pixel is a seed: keep where only keep dabs lie.
    QImage kinds = bytesImage(size.width(), size.height(), Bytes(size.width() * size.height(), 0));
    for (const MarkerDab &dab : std::as_const(markers.newestFirst)) {
        const QRect square = dab.rect.toRect() & QRect(QPoint(0, 0), size); // whole corners
        for (int y = square.top(); y <= square.bottom(); ++y) {
            uchar *row = kinds.scanLine(y);
            for (int x = square.left(); x <= square.right(); ++x)
                row[x] |= dab.keep ? 1 : 2;
        }
    }
    QVERIFY(!imageBytes(kinds).contains(0));
    QCOMPARE(keepPixels, keepIndices(kinds));
    QVERIFY(!keepPixels.isEmpty());
}

void TestIsolation::sameBytesOnAnyThreadCount()
{
    // Big enough for every stage to be split several ways.
    const QSize size(640, 400);
    QImage photo(size, QImage::Format_ARGB32);
    std::mt19937 random(17);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int n = int(random() % 24);
            photo.setPixel(x, y, qRgb((x / 3 + n) % 256, (y / 2 + 2 * n) % 256, (x + y + n) / 5 % 256));
        }
    }
    MarkerSet markers{strokesFor(size, 9), paintedMarks(size, 9)};
    for (int i = 0; i < 1000; ++i)
        markers.newestFirst.append({i % 2 == 0, QRectF(random() % 640, random() % 400, 5, 5)});

    struct Result
    {
        QList<QList<qint16>> centres;
        QImage labelMap;
        IsolationStages stages;
        QList<qint32> keepPixels;
    };
    const auto run = [&](int threads) {
        Parallel::setThreadCount(threads);
        Result result;
        CColorClusters clusters;
        analysePicture(photo, clusters, result.labelMap);
        result.centres = clusters.centers();
        for (int k = 0; k < clusters.clusterCount; ++k)
            result.centres[k].append(qint16(clusters.pixelCounts[k] % 30000));
        result.stages = isolateByStages(result.labelMap, markers, clusters.centers());
        result.keepPixels = isolateKeepPixels(result.labelMap, markers, clusters.centers());
        Parallel::setThreadCount(0);
        return result;
    };
    const auto runPrecise = [&](int threads) {
        Parallel::setThreadCount(threads);
        PreciseStages stages = preciseByStages(photo, markers);
        Parallel::setThreadCount(0);
        return stages;
    };
    const PreciseStages preciseOne = runPrecise(1);
    const PreciseStages preciseFour = runPrecise(4);
    QCOMPARE(imageBytes(preciseFour.colourShare), imageBytes(preciseOne.colourShare));
    QCOMPARE(imageBytes(preciseFour.distance), imageBytes(preciseOne.distance));
    QCOMPARE(imageBytes(preciseFour.decision), imageBytes(preciseOne.decision));
    QCOMPARE(preciseFour.keepPixels, preciseOne.keepPixels);
    QCOMPARE(preciseKeepPixels(photo, markers), preciseOne.keepPixels);
    // The photo is large enough for the reduced cut and the band at full resolution.
    QVERIFY(preciseOne.decision.size() != preciseOne.colourShare.size());
    QVERIFY(imageBytes(preciseOne.decision).contains(3));

    const Result one = run(1);
    const Result four = run(4);
    QCOMPARE(four.centres, one.centres);
    QCOMPARE(imageBytes(four.labelMap), imageBytes(one.labelMap));
    QCOMPARE(imageBytes(four.stages.votes), imageBytes(one.stages.votes));
    QCOMPARE(imageBytes(four.stages.gradient), imageBytes(one.stages.gradient));
    QCOMPARE(imageBytes(four.stages.floodLabels), imageBytes(one.stages.floodLabels));
    QCOMPARE(four.stages.keepPixels, one.stages.keepPixels);
    QCOMPARE(four.keepPixels, one.keepPixels);
    QVERIFY(!one.keepPixels.isEmpty());
}

void TestIsolation::maxFlowFindsMinimumCut()
{
    // Small random graphs against every partition of their nodes, solved afresh and again
    // after their terminal capacities change (the flow found first is kept).
    std::mt19937 random(23);
    for (int graphIndex = 0; graphIndex < 300; ++graphIndex) {
        const int n = 1 + int(random() % 10);
        struct Edge { int a, b, ab, ba; };
        QList<Edge> edges;
        QList<int> degree(n, 0);
        for (int tries = 0; tries < 3 * n; ++tries) {
            const int a = int(random() % n), b = int(random() % n);
            if (a == b || degree[a] == MaxFlow::maxDegree || degree[b] == MaxFlow::maxDegree)
                continue;
            // Now and then an edge that must not be cut.
            const int ab = random() % 8 == 0 ? MaxFlow::infinite : int(random() % 20);
            edges.append({a, b, ab, int(random() % 20)});
            ++degree[a];
            ++degree[b];
        }
        const auto terminals = [&] {
            QList<QPair<int, int>> t;
            for (int i = 0; i < n; ++i)
                t.append({int(random() % 30), int(random() % 30)});
            return t;
        };
        // The cost of a partition: source side where bit i is set.
        const auto cutCost = [&](const QList<QPair<int, int>> &t, quint32 sourceSide) {
            qint64 cost = 0;
            for (int i = 0; i < n; ++i)
                cost += (sourceSide >> i & 1) ? t[i].second : t[i].first;
            for (const Edge &e : edges) {
                const bool a = sourceSide >> e.a & 1, b = sourceSide >> e.b & 1;
                cost += a && !b ? e.ab : !a && b ? e.ba : 0;
            }
            return cost;
        };
        const auto check = [&](const MaxFlow &graph, const QList<QPair<int, int>> &t) {
            qint64 best = std::numeric_limits<qint64>::max();
            for (quint32 side = 0; side < (1u << n); ++side)
                best = std::min(best, cutCost(t, side));
            quint32 found = 0;
            for (int i = 0; i < n; ++i)
                found |= quint32(graph.inSourceSet(i)) << i;
            QCOMPARE(cutCost(t, found), best);
        };

        MaxFlow graph(n);
        for (const Edge &e : std::as_const(edges))
            graph.addEdge(e.a, e.b, e.ab, e.ba);
        QList<QPair<int, int>> t = terminals();
        for (int i = 0; i < n; ++i)
            graph.addTerminal(i, t[i].first, t[i].second);
        const qint64 flow = graph.solve();
        check(graph, t);
        quint32 found = 0;
        for (int i = 0; i < n; ++i)
            found |= quint32(graph.inSourceSet(i)) << i;
        QCOMPARE(flow, cutCost(t, found)); // the maximum flow is the minimum cut
        t = terminals();
        for (int i = 0; i < n; ++i)
            graph.setTerminal(i, t[i].first, t[i].second);
        graph.solve();
        check(graph, t);
    }
}

void TestIsolation::preciseKeepsFarRegionThatClustersFlip()
{
    // A red object with a yellow band across it on blue ground; the right part of the
    // picture, touching the object, is a grey-green the clusters first give to the ground.
    // A keep dab on the yellow band makes the clusters keep all of that far region, as its
    // colour now lies nearest a kept cluster; the precise cut keeps the object and no more.
    const QSize size(120, 80);
    const QRect object(10, 20, 50, 40);
    const QRect band(10, 36, 50, 8);
    QImage photo(size, QImage::Format_ARGB32);
    std::mt19937 random(3);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            QRgb c = x >= 60 ? qRgb(120, 160, 110) : qRgb(60, 90, 160);
            if (object.contains(x, y))
                c = band.contains(x, y) ? qRgb(230, 200, 60) : qRgb(200, 60, 50);
            const int n = int(random() % 7) - 3;
            photo.setPixel(x, y, qRgb(qRed(c) + n, qGreen(c) + n, qBlue(c) + n));
        }
    }
    QList<MarkerDab> drawingOrder = {{true, QRectF(20, 24, 6, 6)}, {false, QRectF(3, 3, 6, 6)},
                                     {false, QRectF(3, 70, 6, 6)}};
    const auto kept = [&](IsolationMethod method) {
        CutSession session;
        session.setIsolationMethod(method);
        session.setPhoto(photo);
        session.setDabs(drawingOrder);
        int inObject = 0, far = 0;
        for (qint32 index : session.isolate()) {
            const QPoint p(index % size.width(), index / size.width());
            inObject += object.contains(p);
            far += p.x() >= 60;
        }
        return QPair<int, int>(inObject, far);
    };
    const int farPixels = 60 * size.height();
    QCOMPARE(kept(IsolationMethod::ColourClusters).second, 0);

    drawingOrder.append({true, QRectF(30, 38, 4, 4)});
    QCOMPARE(kept(IsolationMethod::ColourClusters).second, farPixels);
    QCOMPARE(kept(IsolationMethod::Precise), qMakePair(object.width() * object.height(), 0));
}

void TestIsolation::preciseHonoursEveryMark_data()
{
    // Sizes cut in one piece, on a reduced copy with one band, and with bands of two block
    // sizes; marks larger and smaller than the blocks.
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("marks"); // 0 strokes, 1 strokes and a marker picture, 2 single pixels
    QTest::newRow("one piece") << QSize(150, 100) << 0;
    QTest::newRow("one band") << QSize(640, 400) << 1;
    QTest::newRow("two bands") << QSize(1600, 1000) << 0;
    QTest::newRow("single pixels on two bands") << QSize(1600, 1000) << 2;
}

void TestIsolation::preciseHonoursEveryMark()
{
    // Every pixel under a keep mark alone is kept and no pixel under a remove mark is, at
    // full resolution whatever size of block the cut started from.
    QFETCH(QSize, size);
    QFETCH(int, marks);
    QImage photo(size, QImage::Format_ARGB32);
    std::mt19937 random(29);
    photo.fill(qRgb(70, 110, 60));
    for (int disc = 0; disc < 40; ++disc) {
        const int cx = int(random() % uint(size.width())), cy = int(random() % uint(size.height()));
        const int r = size.width() / 40 + int(random() % uint(size.width() / 8));
        const QRgb colour = qRgb(int(random() % 256), int(random() % 256), int(random() % 256));
        for (int y = qMax(0, cy - r); y < qMin(size.height(), cy + r); ++y)
            for (int x = qMax(0, cx - r); x < qMin(size.width(), cx + r); ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
                    photo.setPixel(x, y, colour);
    }
    MarkerSet markers;
    if (marks == 2) {
        for (int i = 0; i < 60; ++i)
            markers.newestFirst.append({i % 3 != 0, QRectF(1 + random() % 1590, 1 + random() % 990, 1, 1)});
    } else {
        markers.newestFirst = strokesFor(size, 4);
        if (marks == 1)
            markers.picture = paintedMarks(size, 4);
    }
    Points keep, remove;
    harvestMarkerSet(markers, size.width(), size.height(), keep, remove);
    const QList<qint32> kept = preciseKeepPixels(photo, markers);
    const QSet<qint32> keptSet(kept.begin(), kept.end());
    QCOMPARE(keptSet.size(), kept.size());
    QSet<qint32> removed;
    for (const QPoint &p : std::as_const(remove))
        removed.insert(p.y() * size.width() + p.x());
    for (const QPoint &p : std::as_const(keep)) {
        const qint32 index = p.y() * size.width() + p.x();
        QVERIFY2(removed.contains(index) || keptSet.contains(index), qPrintable(QStringLiteral("keep mark (%1, %2) not kept").arg(p.x()).arg(p.y())));
    }
    for (qint32 index : std::as_const(removed))
        QVERIFY2(!keptSet.contains(index), qPrintable(QStringLiteral("remove mark %1 kept").arg(index)));
}

QTEST_GUILESS_MAIN(TestIsolation)
#include "tst_isolation.moc"
