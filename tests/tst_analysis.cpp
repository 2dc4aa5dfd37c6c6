#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include "analysis/analysis.h"
#include "output/pictureio.h"
#include "reference/perpixelanalysis.h"

namespace {

const int K = 30;

QStringList debugLines;

void recordDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines.append(message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QList<qint16> lab(QRgb colour)
{
    const LabValue v = rgbToLab(colour);
    return {v.L, v.a, v.b};
}

QImage picture(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// The label bytes of a map, row by row, without the fill bytes at the row ends.
QByteArray labelBytes(const QImage &map)
{
    QByteArray bytes;
    for (int y = 0; y < map.height(); ++y)
        bytes.append(reinterpret_cast<const char *>(map.constScanLine(y)), map.width());
    return bytes;
}

QList<qint64> counts(const CColorClusters &clusters)
{
    QList<qint64> result;
    for (int k = 0; k < clusters.clusterCount; ++k)
        result.append(clusters.pixelCounts[k]);
    return result;
}

// The analysis done the plain way: per-pixel planes, per-pixel clustering and labelling.
void analyseByPixel(const QImage &full, CColorClusters &clusters, QImage &labelMap)
{
    PerPixel::cluster(clusters, CLabImage(analysisPicture(full)), K, {}, 30, 80);
    labelMap = QImage(full.size(), QImage::Format_Indexed8);
    labelMap.fill(0);
    PerPixel::labelImage(clusters, CLabImage(full), labelMap);
}

QByteArray crc32BigEndian(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    crc = ~crc;
    QByteArray out(4, 0);
    qToBigEndian(crc, out.data());
    return out;
}

QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray length(4, 0);
    qToBigEndian(quint32(data.size()), length.data());
    const QByteArray body = QByteArray(type) + data;
    return length + body + crc32BigEndian(body);
}

QByteArray encoded(const QImage &image, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

} // namespace

class TestAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(recordDebug); }

    void rgbToLabValues_data();
    void rgbToLabValues();
    void checkedConversionIsExact();
    void labImageIgnoresAlphaAndIsRowMajor();
    void analysisSize_data();
    void analysisSize();
    void flatPicture();
    void twoColours();
    void onePixel();
    void nearestNonEmptyCluster_data();
    void nearestNonEmptyCluster();
    void labelsKeepOffRowPadding();
    void progressEventsAndStages();
    void fastMatchesPerPixel_data();
    void fastMatchesPerPixel();
    void unreadablePictures_data();
    void unreadablePictures();
    void exifOrientationApplied();
    void largePictureOpens();
};

void TestAnalysis::rgbToLabValues_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<QList<qint16>>("expected");
    QTest::newRow("white") << qRgb(255, 255, 255) << QList<qint16>{100, 0, 0};
    QTest::newRow("black") << qRgb(0, 0, 0) << QList<qint16>{0, 0, 0};
    QTest::newRow("red") << qRgb(255, 0, 0) << QList<qint16>{53, 80, 67};
    QTest::newRow("green") << qRgb(0, 255, 0) << QList<qint16>{87, -86, 83};
    QTest::newRow("blue") << qRgb(0, 0, 255) << QList<qint16>{32, 79, -107};
    QTest::newRow("grey 128") << qRgb(128, 128, 128) << QList<qint16>{53, 0, 0};
    QTest::newRow("orange brown") << qRgb(200, 100, 50) << QList<qint16>{53, 36, 45};
    QTest::newRow("alpha ignored") << qRgba(200, 100, 50, 7) << QList<qint16>{53, 36, 45};
}

void TestAnalysis::rgbToLabValues()
{
    QFETCH(QRgb, colour);
    QFETCH(QList<qint16>, expected);
    QCOMPARE(lab(colour), expected);
}

void TestAnalysis::checkedConversionIsExact()
{
    // A spread of colours plus every grey, where components sit on integers most often.
    // (The benchmark checks all 2^24 colours.)
    const double *linear = linearChannelTable();
    for (quint32 colour = 0; colour < (1u << 24); colour += colour % 256 == 255 ? 257 * 97 : 1) {
        const QRgb grey = qRgb(colour & 0xFF, colour & 0xFF, colour & 0xFF);
        for (const QRgb c : {QRgb(colour), grey}) {
            const LabValue quick = labFromLinearChecked(linear[qRed(c)], linear[qGreen(c)], linear[qBlue(c)]);
            const LabValue exact = rgbToLab(c);
            if (quick.L != exact.L || quick.a != exact.a || quick.b != exact.b)
                QFAIL(qPrintable(QString::number(c, 16)));
        }
    }
}

void TestAnalysis::labImageIgnoresAlphaAndIsRowMajor()
{
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(qRgba(10, 200, 30, 255));
    image.setPixel(1, 0, qRgba(10, 200, 30, 0));
    image.setPixel(2, 1, qRgb(250, 5, 90));
    const CLabImage planes(image);
    QCOMPARE(planes.width, 3);
    QCOMPARE(planes.height, 2);
    QCOMPARE(planes.valuesAt(1, 0), planes.valuesAt(0, 0));
    QCOMPARE(planes.valuesAt(2, 1), lab(qRgb(250, 5, 90)));
    QCOMPARE(planes.planeL.at(1 * 3 + 2), lab(qRgb(250, 5, 90)).at(0));
    QCOMPARE(planes.planeA.at(1 * 3 + 2), lab(qRgb(250, 5, 90)).at(1));
}

void TestAnalysis::analysisSize_data()
{
    QTest::addColumn<QSize>("full");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("512 x 300 kept") << QSize(512, 300) << QSize(512, 300);
    QTest::newRow("513 x 300") << QSize(513, 300) << QSize(512, 299);
    QTest::newRow("square by height") << QSize(600, 600) << QSize(512, 512);
    QTest::newRow("300 x 900") << QSize(300, 900) << QSize(171, 512);
    QTest::newRow("4000 x 3000") << QSize(4000, 3000) << QSize(512, 384);
    QTest::newRow("rounded, not truncated") << QSize(640, 427) << QSize(512, 342);
    QTest::newRow("1100 x 1") << QSize(1100, 1) << QSize(512, 1);
    QTest::newRow("1 x 1100") << QSize(1, 1100) << QSize(1, 512);
    QTest::newRow("1 x 1") << QSize(1, 1) << QSize(1, 1);
}

void TestAnalysis::analysisSize()
{
    QFETCH(QSize, full);
    QFETCH(QSize, expected);
    // Columns of two colours: nearest-neighbour scaling may drop some but never blends.
    QImage image(full, QImage::Format_ARGB32);
    for (int x = 0; x < full.width(); ++x) {
        for (int y = 0; y < full.height(); ++y)
            image.setPixel(x, y, x % 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    }
    const QImage reduced = analysisPicture(image);
    QCOMPARE(reduced.size(), expected);
    if (expected == full)
        QCOMPARE(reduced.cacheKey(), image.cacheKey());
    for (int x = 0; x < reduced.width(); ++x) {
        const QRgb c = reduced.pixel(x, reduced.height() - 1);
        QVERIFY(c == qRgb(255, 0, 0) || c == qRgb(0, 0, 255));
    }
}

void TestAnalysis::flatPicture()
{
    CColorClusters clusters;
    QImage map;
    QVERIFY(clusters.centers().isEmpty());
    analysePicture(picture(7, 5, qRgb(12, 150, 200)), clusters, map);
    const QList<QList<qint16>> centres = clusters.centers();
    QCOMPARE(centres.size(), K);
    for (const QList<qint16> &centre : centres)
        QCOMPARE(centre, lab(qRgb(12, 150, 200)));
    QList<qint64> expectedCounts(K, 0);
    expectedCounts[0] = 35;
    QCOMPARE(counts(clusters), expectedCounts);
    QCOMPARE(labelBytes(map), QByteArray(35, 0));
}

void TestAnalysis::twoColours()
{
    const QRgb A = qRgb(30, 90, 20);
    const QRgb B = qRgb(240, 240, 200);
    QImage image = picture(6, 4, A);
    for (int y = 1; y < 4; ++y)
        image.setPixel(4, y, B);
    image.setPixel(0, 3, B);
    QByteArray expectedLabels(24, 0);
    for (int y = 1; y < 4; ++y)
        expectedLabels[y * 6 + 4] = 1;
    expectedLabels[3 * 6] = 1;

    for (const bool fast : {true, false}) {
        CColorClusters clusters;
        QImage map;
        if (fast)
            analysePicture(image, clusters, map);
        else
            analyseByPixel(image, clusters, map);
        const QList<QList<qint16>> centres = clusters.centers();
        QCOMPARE(centres.size(), K);
        QCOMPARE(centres[0], lab(A));
        QCOMPARE(centres[1], lab(B));
        for (int k = 2; k < K; ++k)
            QCOMPARE(centres[k], lab(A));
        QList<qint64> expectedCounts(K, 0);
        expectedCounts[0] = 20;
        expectedCounts[1] = 4;
        QCOMPARE(counts(clusters), expectedCounts);
        QCOMPARE(labelBytes(map), expectedLabels);
    }
}

void TestAnalysis::onePixel()
{
    CColorClusters clusters;
    QImage map;
    // Pictures longer than 1024:1 keep one row for the clustering.
    for (const QSize size : {QSize(1100, 1), QSize(1, 1100)}) {
        analysePicture(picture(size.width(), size.height(), qRgb(9, 9, 9)), clusters, map);
        QCOMPARE(map.size(), size);
        QCOMPARE(clusters.pixelCounts[0], qint64(512));
    }
    analysePicture(picture(1, 1, qRgb(200, 100, 50)), clusters, map);
    QCOMPARE(map.size(), QSize(1, 1));
    QCOMPARE(map.format(), QImage::Format_Indexed8);
    QCOMPARE(map.pixelIndex(0, 0), 0);
    QCOMPARE(clusters.centers().size(), K);
    QCOMPARE(clusters.centers().at(0), (QList<qint16>{53, 36, 45}));
    QCOMPARE(clusters.pixelCounts[0], qint64(1));
}

void TestAnalysis::nearestNonEmptyCluster_data()
{
    // Centres are given as offsets from the pixel's own triple.
    QTest::addColumn<QList<QList<int>>>("offsets");
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<int>("expected");
    QTest::newRow("nearest") << QList<QList<int>>{{10, 0, 0}, {1, 1, 0}, {0, 3, 0}}
                             << QList<qint64>{1, 1, 1} << 1;
    QTest::newRow("tie to the lower index") << QList<QList<int>>{{9, 9, 9}, {0, 3, 0}, {3, 0, 0}}
                                            << QList<qint64>{1, 1, 1} << 1;
    QTest::newRow("tie across axes") << QList<QList<int>>{{0, 0, -5}, {3, 4, 0}}
                                     << QList<qint64>{2, 1} << 0;
    QTest::newRow("exact colour but empty") << QList<QList<int>>{{0, 0, 0}, {6, 0, 0}}
                                            << QList<qint64>{0, 5} << 1;
    QTest::newRow("empty cluster 0, tie") << QList<QList<int>>{{0, 0, 0}, {0, -2, 0}, {2, 0, 0}, {0, 0, 0}}
                                          << QList<qint64>{0, 1, 1, 0} << 1;
}

void TestAnalysis::nearestNonEmptyCluster()
{
    QFETCH(QList<QList<int>>, offsets);
    QFETCH(QList<qint64>, sizes);
    QFETCH(int, expected);
    const QRgb colour = qRgb(120, 140, 90);
    const QList<qint16> own = lab(colour);
    QList<QList<int>> centres;
    for (const QList<int> &offset : offsets)
        centres.append({own[0] + offset[0], own[1] + offset[1], own[2] + offset[2]});
    CColorClusters clusters;
    PerPixel::setModel(clusters, centres, sizes);

    QImage byPixel(1, 1, QImage::Format_Indexed8);
    byPixel.fill(255);
    PerPixel::labelImage(clusters, CLabImage(picture(1, 1, colour)), byPixel);
    QCOMPARE(byPixel.pixelIndex(0, 0), expected);
    QImage byColour(1, 1, QImage::Format_Indexed8);
    byColour.fill(255);
    clusters.labelPicture(picture(1, 1, colour), byColour);
    QCOMPARE(byColour.pixelIndex(0, 0), expected);
}

void TestAnalysis::labelsKeepOffRowPadding()
{
    QImage image(3, 4, QImage::Format_ARGB32);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 3; ++x)
            image.setPixel(x, y, x == y ? qRgb(250, 250, 250) : qRgb(5, 5, 60));
    }
    CColorClusters clusters;
    QImage fresh;
    analysePicture(image, clusters, fresh);
    QCOMPARE(fresh.bytesPerLine(), 4);

    QImage byPixel(3, 4, QImage::Format_Indexed8);
    QImage byColour(3, 4, QImage::Format_Indexed8);
    memset(byPixel.bits(), 0xEE, size_t(byPixel.sizeInBytes()));
    memset(byColour.bits(), 0xEE, size_t(byColour.sizeInBytes()));
    PerPixel::labelImage(clusters, CLabImage(image), byPixel);
    clusters.labelPicture(image, byColour);
    for (const QImage &map : {byPixel, byColour}) {
        for (int y = 0; y < 4; ++y) {
            const uchar *row = map.constScanLine(y);
            for (int x = 0; x < 3; ++x)
                QCOMPARE(int(row[x]), x == y ? 0 : 1); // the top-left colour is cluster 0
            QCOMPARE(int(row[3]), 0xEE);
        }
    }
    QCOMPARE(labelBytes(fresh), labelBytes(byPixel));
}

void TestAnalysis::progressEventsAndStages()
{
    const int eventsMark = -1;
    QList<int> seen;
    QStringList stages;
    AnalysisHooks hooks;
    hooks.progress = [&](int value) { seen.append(value); };
    hooks.processEvents = [&] { seen.append(eventsMark); };
    hooks.stageTimer = [&](const char *stage, qint64 ns) {
        QVERIFY(ns >= 0);
        stages.append(QString::fromLatin1(stage));
    };
    QLoggingCategory::setFilterRules(QStringLiteral("peltrix.analysis.debug=true"));
    debugLines.clear();
    CColorClusters clusters;
    QImage map;
    analysePicture(picture(700, 20, qRgb(1, 2, 3)), clusters, map, hooks);
    QLoggingCategory::setFilterRules(QString());

    const QList<int> expected{10, 15, 20, eventsMark, 30, 40, 50, 60, 60, 62, 65, 67, 70, 72, 75,
                              77, 80, 82, 85, 87, 90, 92, 95, 97, 100, 102, 105, 107};
    QCOMPARE(seen, expected);
    QCOMPARE(stages, (QStringList{"analysis-scale", "lab-analysis", "cluster", "label"}));
    QStringList iterations;
    for (int t = 0; t < 20; ++t)
        iterations << QStringLiteral("iteration %1").arg(t) << QStringLiteral("iteration %1 step2").arg(t);
    QCOMPARE(debugLines, iterations);

    // Without the rule the console stays quiet.
    debugLines.clear();
    analysePicture(picture(700, 20, qRgb(1, 2, 3)), clusters, map, {});
    QCOMPARE(debugLines, QStringList());
}

void TestAnalysis::fastMatchesPerPixel_data()
{
    QTest::addColumn<QImage>("image");
    // Photos decoded at a reduced size; a wide strip makes the analysis picture a reduced
    // copy, the others are analysed unscaled. A missing photo gives a null row (skipped).
    const QString folder = QStringLiteral("/usr/share/backgrounds/mate/nature/");
    const auto photo = [&](const char *name, QSize size) {
        QImageReader reader(folder + QLatin1String(name));
        reader.setScaledSize(size);
        return reader.read().convertToFormat(QImage::Format_ARGB32);
    };
    QTest::newRow("LadyBird strip, reduced") << photo("LadyBird.jpg", QSize(640, 400)).copy(0, 180, 640, 120);
    QTest::newRow("Garden") << photo("Garden.jpg", QSize(200, 125));
    QTest::newRow("Storm") << photo("Storm.jpg", QSize(200, 125));
    QTest::newRow("TwoWings") << photo("TwoWings.jpg", QSize(160, 100));
    QImage noise(160, 60, QImage::Format_ARGB32);
    quint32 seed = 12345;
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.setPixel(x, y, seed >> 8 | (seed & 0xFF000000));
        }
    }
    QTest::newRow("random colours and alpha") << noise;
    QImage few(97, 61, QImage::Format_ARGB32);
    const QRgb palette[] = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(128, 128, 128), qRgb(127, 129, 128),
                            qRgb(255, 0, 0), qRgb(250, 5, 5)};
    for (int y = 0; y < few.height(); ++y) {
        for (int x = 0; x < few.width(); ++x)
            few.setPixel(x, y, palette[(x * 7 + y * 3) / 11 % 6]);
    }
    QTest::newRow("few colours") << few;
}

void TestAnalysis::fastMatchesPerPixel()
{
    QFETCH(QImage, image);
    if (image.isNull())
        QSKIP("no sample photos (Debian's mate-backgrounds package)");
    CColorClusters expected;
    QImage expectedMap;
    analyseByPixel(image, expected, expectedMap);
    for (int run = 0; run < 2; ++run) {
        CColorClusters clusters;
        QImage map;
        analysePicture(image, clusters, map);
        QCOMPARE(clusters.centers(), expected.centers());
        QCOMPARE(counts(clusters), counts(expected));
        QCOMPARE(map.size(), image.size());
        QCOMPARE(map.format(), QImage::Format_Indexed8);
        QVERIFY(labelBytes(map) == labelBytes(expectedMap));
    }
}

void TestAnalysis::unreadablePictures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text") << QByteArray("this is not a picture\n");
    QTest::newRow("empty") << QByteArray();
    const QByteArray png = encoded(picture(40, 30, qRgb(1, 2, 3)), "PNG");
    QTest::newRow("truncated PNG") << png.left(png.size() / 2);
    // Well-formed chunks claiming 100000 x 100000 pixels with a few bytes of data.
    QByteArray huge = QByteArray::fromHex("89504e470d0a1a0a");
    huge.append(pngChunk("IHDR", QByteArray::fromHex("000186a0000186a00806000000")));
    huge.append(pngChunk("IDAT", QByteArray::fromHex("789c636000000002000001")));
    huge.append(pngChunk("IEND", QByteArray()));
    QTest::newRow("absurd size") << huge;
}

void TestAnalysis::unreadablePictures()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QString error;
    QVERIFY(readPicture(path, &error).isNull());
    QVERIFY(!error.isEmpty());
    QVERIFY(readPicture(dir.filePath(QStringLiteral("missing.png"))).isNull());
}

void TestAnalysis::exifOrientationApplied()
{
    // Left half red, right half blue, stored with orientation 6 (turn 90 degrees clockwise).
    QImage stored(32, 16, QImage::Format_RGB32);
    stored.fill(qRgb(255, 0, 0));
    for (int y = 0; y < 16; ++y) {
        for (int x = 16; x < 32; ++x)
            stored.setPixel(x, y, qRgb(0, 0, 255));
    }
    const QByteArray jpeg = encoded(stored, "JPEG", 100);
    QByteArray tiff = QByteArray::fromHex("49492a0008000000" // little endian, IFD at 8
                                          "0100" // one entry
                                          "12010300010000000600" "0000" // orientation = 6
                                          "00000000"); // no next IFD
    QByteArray app1 = QByteArray("Exif") + QByteArray(2, 0) + tiff;
    QByteArray segment = QByteArray::fromHex("ffe1");
    QByteArray length(2, 0);
    qToBigEndian(quint16(app1.size() + 2), length.data());
    segment.append(length).append(app1);
    QByteArray rotated = jpeg.left(2) + segment + jpeg.mid(2);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("turned.jpg"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(rotated);
    file.close();
    const QImage upright = readPicture(path);
    QCOMPARE(upright.size(), QSize(16, 32));
    QCOMPARE(upright.format(), QImage::Format_ARGB32);
    QVERIFY(qRed(upright.pixel(8, 4)) > 200 && qBlue(upright.pixel(8, 4)) < 50);
    QVERIFY(qBlue(upright.pixel(8, 28)) > 200 && qRed(upright.pixel(8, 28)) < 50);
}

void TestAnalysis::largePictureOpens()
{
    // 36 megapixels, above Qt's default allocation limit of 128 MiB.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.bmp"));
    {
        QImage large(6000, 6000, QImage::Format_RGB32);
        large.fill(qRgb(9, 8, 7));
        QVERIFY(large.save(path, "BMP"));
    }
    QString error;
    const QImage opened = readPicture(path, &error);
    QVERIFY2(!opened.isNull(), qPrintable(error));
    QCOMPARE(opened.size(), QSize(6000, 6000));
    QCOMPARE(opened.pixel(5999, 5999), qRgb(9, 8, 7));
}

QTEST_GUILESS_MAIN(TestAnalysis)
#include "tst_analysis.moc"
