#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "output/exportcompose.h"

namespace {

QImage picture(int W, int H, QImage::Format format, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(W, H, QImage::Format_ARGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            // Flat stretches, see-through pixels and any value, as a cut-out over a colour has.
            const quint32 v = random.generate();
            image.setPixel(x, y, x < W / 3 ? 0x00FFFFFFu : (v & 0x3) == 0 ? 0xFF102030u : v);
        }
    return image.convertToFormat(format);
}

QString systemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool isCharacterDevice(const QString &path)
{
    struct stat info;
    return stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}

// A full device under `name` in `dir`: a node of its own where the system lets us make
// one (so that a writer that replaced it would harm nothing else), else a link to
// /dev/full. Empty when there is neither.
QString fullDevice(const QTemporaryDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0
        && isCharacterDevice(path))
        return path;
    QFile::remove(path);
    if (isCharacterDevice(QStringLiteral("/dev/full"))
        && QFile::link(QStringLiteral("/dev/full"), path))
        return path;
    return QString();
}

} // namespace

class TestExportFile : public QObject
{
    Q_OBJECT

private slots:
    void pngReadsBackAsTheSamePixels_data();
    void pngReadsBackAsTheSamePixels();
    void failedWriteGivesTheSystemsReason_data();
    void failedWriteGivesTheSystemsReason();
};

void TestExportFile::pngReadsBackAsTheSamePixels_data()
{
    QTest::addColumn<QImage>("image");
    QTest::newRow("ARGB32") << picture(61, 23, QImage::Format_ARGB32, 1);
    QTest::newRow("RGB32") << picture(40, 17, QImage::Format_RGB32, 2);
    QTest::newRow("premultiplied") << picture(13, 9, QImage::Format_ARGB32_Premultiplied, 3);
    QTest::newRow("1 x 1") << picture(1, 1, QImage::Format_ARGB32, 4);
    // Large enough for the rows to be prepared on a second thread.
    QTest::newRow("large") << picture(700, 411, QImage::Format_ARGB32, 5);
}

void TestExportFile::pngReadsBackAsTheSamePixels()
{
    QFETCH(QImage, image);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("export.PNG"));
    QString error;
    QVERIFY2(writeExportFile(image, path, &error), qPrintable(error));
    // What the toolkit's own writer would have given back.
    const QString reference = dir.filePath(QStringLiteral("reference.png"));
    QVERIFY(image.save(reference));
    const QImage expected(reference);
    const QImage written(path);
    QCOMPARE(written.format(), expected.format());
    QCOMPARE(written, expected);
}

void TestExportFile::failedWriteGivesTheSystemsReason_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QSize>("size");
    QTest::newRow("png") << QStringLiteral("png") << QSize(300, 200);
    QTest::newRow("jpeg") << QStringLiteral("jpg") << QSize(300, 200);
}

void TestExportFile::failedWriteGivesTheSystemsReason()
{
    QFETCH(QString, suffix);
    QFETCH(QSize, size);
    const QImage image = picture(size.width(), size.height(), QImage::Format_ARGB32, 7);

    // A full device: written into (never replaced, which would remove it), and full.
    QTemporaryDir devices;
    const QString full = fullDevice(devices, QStringLiteral("full.") + suffix);
    if (!full.isEmpty()) {
        QString error;
        QVERIFY(!writeExportFile(image, full, &error));
        QCOMPARE(error, systemReason(ENOSPC));
        QVERIFY(isCharacterDevice(full));
        QCOMPARE(QDir(devices.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(full).fileName()});
    }

    // A file that may not grow past 4 KiB, as on a disk that fills up: the existing file
    // stays as it was and no temporary file is left.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("keep.") + suffix);
    QFile existing(path);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("the earlier export");
    existing.close();
    rlimit before;
    QVERIFY(getrlimit(RLIMIT_FSIZE, &before) == 0);
    rlimit small = before;
    small.rlim_cur = 4096;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    QString error;
    const bool written = writeExportFile(image, path, &error);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(!written);
    QCOMPARE(error, systemReason(EFBIG));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("the earlier export"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
}

QTEST_GUILESS_MAIN(TestExportFile)
#include "tst_exportfile.moc"
