// How many clicks a clean cut takes: a robot user on photos with a true mask, the way
// interactive-segmentation papers measure it, for each isolation method and for OpenCV's
// watershed and grabCut fed the same clicks. Then the Mask (isolation) time of each method
// on the 24-megapixel noisy photo with its strokes, against the colour clusters' in the same
// run. Ends with the figures against their targets.
//
//   bench_clicks [--data FOLDER] [--methods clusters,precise,watershed,grabcut] [--limit N] [--stride N]
//                [--threads N] [--grabcut-iterations N] [--big-grabcut] [--no-big]
//                [--details FILE] [--only NAME] [--pictures FOLDER]
//
// FOLDER holds images/NAME.{jpg,png,bmp} and masks/NAME.png (255 object, 0 background, any
// other value ignored in the scores and in placing clicks); by default the COCO sample
// beside the source tree. --details writes every photo's IoU after each click, --only keeps
// the photos whose name contains NAME, --pictures writes each click's result as a picture.
//
// The robot: before the first click nothing is kept. Each click goes to the error region
// whose pixel farthest from the region's edge (exact Euclidean distance, the picture's border
// counting as edge) is farther, missed object winning ties: a keep click in missed object, a
// remove click in wrongly kept background. A click is one dab centred on that pixel, of side
// 10 or, where the region is narrower, 2d - 1 (d the distance there), placed as the canvas
// places dabs: the top-left corner of the square and its side. The canvas takes no dab whose
// corner lies on the first row or column, so there, like a user, the robot places it one
// pixel further in ("moved" counts these). Every method gets all clicks so far and starts
// from scratch.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "analysis/parallel.h"
#include "bench/benchsupport.h"
#include "isolation/markerinput.h"
#include "isolation/markers.h"
#include "output/pictureio.h"
#include "session/cutsession.h"

#ifdef PELTRIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int maxClicks = 20;
constexpr int largestDab = 10;
constexpr double harmfulDrop = 0.05;

// Targets of the precise isolation.
constexpr double nocTarget = 0.6;         // NoC@90 against the colour clusters'
constexpr int neverTarget = 8;            // objects never at IoU 0.90
constexpr double harmfulTarget = 2.0;     // per cent
constexpr double clickMsTarget = 60;      // per click on these small photos
constexpr double bigMaskTarget = 1.5;     // Mask time against the colour clusters', 24 MP noisy
constexpr double bigPeakTarget = 30;      // bytes per pixel, the window's whole session

using Mask = std::vector<uchar>; // 1 keep, 0 not; W * H, row-major

struct Truth
{
    int W = 0;
    int H = 0;
    std::vector<uchar> values; // 255 object, 0 background, other ignored
};

// One way of cutting: prepared once per photo (as on Open), then asked for a keep mask from
// the dabs in drawing order.
class Method
{
public:
    virtual ~Method() = default;
    virtual QString name() const = 0;
    virtual void open(const QImage &photo) = 0;
    virtual Mask cut(const QList<MarkerDab> &drawingOrder) = 0;
};

Mask maskOfKeepPixels(const QList<qint32> &keepPixels, QSize size)
{
    Mask mask(size_t(size.width()) * size.height(), 0);
    for (qint32 index : keepPixels)
        mask[size_t(index)] = 1;
    return mask;
}

// The program's own path: a cut session with its analysis, the dabs set as the canvas adds
// them, the isolation of the chosen method.
class SessionMethod : public Method
{
public:
    explicit SessionMethod(IsolationMethod method) : method(method) {}
    QString name() const override { return isolationMethodName(method); }
    void open(const QImage &photo) override
    {
        session = std::make_unique<CutSession>();
        session->setIsolationMethod(method);
        session->setPhoto(photo);
        session->analyse();
    }
    Mask cut(const QList<MarkerDab> &drawingOrder) override
    {
        session->setDabs(drawingOrder);
        return maskOfKeepPixels(session->isolate(), session->size());
    }

private:
    IsolationMethod method;
    std::unique_ptr<CutSession> session;
};

#ifdef PELTRIX_HAVE_OPENCV
// The dabs' pixels as the session harvests them (placed as the canvas places them), a
// pixel under both kinds a remove pixel.
void markPoints(const QList<MarkerDab> &drawingOrder, QSize size, const std::function<void(QPoint, bool)> &mark)
{
    QList<QPoint> keep, remove;
    harvestMarkers(placeDabs(drawingOrder, size), size.width(), size.height(), keep, remove);
    for (const QPoint &p : std::as_const(keep))
        mark(p, true);
    for (const QPoint &p : std::as_const(remove))
        mark(p, false);
}

class OpenCvMethod : public Method
{
public:
    void open(const QImage &photo) override
    {
        rgb = photo.convertToFormat(QImage::Format_RGB888);
        picture = cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                          size_t(rgb.bytesPerLine()));
    }

protected:
    QImage rgb;
    cv::Mat picture;
};

class Watershed : public OpenCvMethod
{
public:
    QString name() const override { return QStringLiteral("watershed"); }
    Mask cut(const QList<MarkerDab> &drawingOrder) override
    {
        cv::Mat markers(picture.rows, picture.cols, CV_32SC1, cv::Scalar(0));
        markPoints(drawingOrder, rgb.size(), [&](QPoint p, bool keep) {
            markers.at<qint32>(p.y(), p.x()) = keep ? 1 : 2;
        });
        cv::watershed(picture, markers);
        Mask mask(size_t(picture.cols) * picture.rows);
        for (int y = 0; y < picture.rows; ++y)
            for (int x = 0; x < picture.cols; ++x)
                mask[size_t(y) * picture.cols + x] = markers.at<qint32>(y, x) == 1;
        return mask;
    }
};

// The dabs are sure object and background; unmarked pixels start as probable background (as
// probable object there would be no background to learn from before the first remove click).
class GrabCut : public OpenCvMethod
{
public:
    explicit GrabCut(int iterations) : iterations(iterations) {}
    QString name() const override { return QStringLiteral("grabCut"); }
    Mask cut(const QList<MarkerDab> &drawingOrder) override
    {
        Mask mask(size_t(picture.cols) * picture.rows, 0);
        cv::Mat labels(picture.rows, picture.cols, CV_8UC1, cv::Scalar(cv::GC_PR_BGD));
        bool anyKeep = false;
        markPoints(drawingOrder, rgb.size(), [&](QPoint p, bool keep) {
            labels.at<uchar>(p.y(), p.x()) = keep ? cv::GC_FGD : cv::GC_BGD;
            anyKeep = anyKeep || keep;
        });
        if (!anyKeep)
            return mask;
        try {
            cv::Mat background, foreground;
            cv::grabCut(picture, labels, cv::Rect(), background, foreground, iterations, cv::GC_INIT_WITH_MASK);
        } catch (const cv::Exception &) {
            return mask; // too few samples for a model: nothing kept
        }
        for (int y = 0; y < picture.rows; ++y) {
            for (int x = 0; x < picture.cols; ++x) {
                const uchar v = labels.at<uchar>(y, x);
                mask[size_t(y) * picture.cols + x] = v == cv::GC_FGD || v == cv::GC_PR_FGD;
            }
        }
        return mask;
    }

private:
    int iterations;
};
#endif

// Squared distance of every pixel of `inside` to the nearest pixel outside it, the picture's
// border counting as outside (Felzenszwalb and Huttenlocher's exact transform, one axis at a
// time).
std::vector<double> squaredDistances(const std::vector<uchar> &inside, int W, int H)
{
    const double far = 1e20;
    // The lower envelope of parabolas over one line of n values; positions -1 and n are
    // outside.
    const auto line = [far](std::vector<double> &f, int n) {
        std::vector<double> d(size_t(n) + 2);
        std::vector<int> v(size_t(n) + 2);
        std::vector<double> z(size_t(n) + 3);
        // Index i of f stands for position i - 1.
        const int m = n + 2;
        int k = 0;
        v[0] = 0;
        z[0] = -far;
        z[1] = far;
        for (int q = 1; q < m; ++q) {
            if (f[size_t(q)] >= far)
                continue;
            double s;
            for (;;) {
                const int r = v[size_t(k)];
                s = ((f[size_t(q)] + double(q) * q) - (f[size_t(r)] + double(r) * r)) / (2.0 * q - 2.0 * r);
                if (s <= z[size_t(k)] && k > 0) {
                    --k;
                    continue;
                }
                break;
            }
            ++k;
            v[size_t(k)] = q;
            z[size_t(k)] = s;
            z[size_t(k) + 1] = far;
        }
        k = 0;
        for (int q = 0; q < m; ++q) {
            while (z[size_t(k) + 1] < q)
                ++k;
            const int r = v[size_t(k)];
            d[size_t(q)] = double(q - r) * (q - r) + f[size_t(r)];
        }
        f.swap(d);
    };
    std::vector<double> result(size_t(W) * H);
    std::vector<double> f;
    // Columns first, then rows.
    for (int x = 0; x < W; ++x) {
        f.assign(size_t(H) + 2, 0.0);
        for (int y = 0; y < H; ++y)
            f[size_t(y) + 1] = inside[size_t(y) * W + x] ? far : 0.0;
        line(f, H);
        for (int y = 0; y < H; ++y)
            result[size_t(y) * W + x] = f[size_t(y) + 1];
    }
    for (int y = 0; y < H; ++y) {
        f.assign(size_t(W) + 2, 0.0);
        for (int x = 0; x < W; ++x)
            f[size_t(x) + 1] = result[size_t(y) * W + x];
        line(f, W);
        for (int x = 0; x < W; ++x)
            result[size_t(y) * W + x] = f[size_t(x) + 1];
    }
    return result;
}

double iou(const Mask &mask, const Truth &truth)
{
    qint64 both = 0, either = 0;
    for (size_t i = 0; i < mask.size(); ++i) {
        const uchar t = truth.values[i];
        if (t != 0 && t != 255)
            continue;
        const bool object = t == 255;
        both += object && mask[i];
        either += object || mask[i];
    }
    return either == 0 ? 1.0 : double(both) / double(either);
}

struct Click
{
    QPoint at;
    bool keep = true;
    int side = largestDab;
};

// The next click on the largest error, or none when there is no error left.
bool nextClick(const Mask &mask, const Truth &truth, Click &click)
{
    const size_t n = mask.size();
    std::vector<uchar> missed(n), extra(n);
    bool anyError = false;
    for (size_t i = 0; i < n; ++i) {
        missed[i] = truth.values[i] == 255 && !mask[i];
        extra[i] = truth.values[i] == 0 && mask[i];
        anyError = anyError || missed[i] || extra[i];
    }
    if (!anyError)
        return false;
    const auto farthest = [&](const std::vector<uchar> &region, size_t &at) {
        const std::vector<double> d = squaredDistances(region, truth.W, truth.H);
        double best = 0;
        at = 0;
        for (size_t i = 0; i < n; ++i) {
            if (region[i] && d[i] > best) {
                best = d[i];
                at = i;
            }
        }
        return best;
    };
    size_t missedAt = 0, extraAt = 0;
    const double missedDistance = farthest(missed, missedAt);
    const double extraDistance = farthest(extra, extraAt);
    click.keep = missedDistance >= extraDistance;
    const size_t at = click.keep ? missedAt : extraAt;
    const double d = std::sqrt(click.keep ? missedDistance : extraDistance);
    click.at = QPoint(int(at % size_t(truth.W)), int(at / size_t(truth.W)));
    click.side = std::max(1, std::min(largestDab, int(std::floor(2 * d - 1))));
    return true;
}

// The dab of a click as the canvas would hold it: the square's top-left corner and side,
// the corner moved onto the second row or column where the canvas would refuse it.
MarkerDab dabOf(const Click &click, bool *moved = nullptr)
{
    const int half = (click.side - 1) / 2;
    const QPoint corner(click.at.x() - half, click.at.y() - half);
    const QPoint placed(std::max(corner.x(), 1), std::max(corner.y(), 1));
    if (moved)
        *moved = placed != corner;
    return {click.keep, QRectF(placed, QSizeF(click.side, click.side))};
}

// Processor time of the whole process (every thread), in milliseconds: on a machine shared
// with other work it says more about the cost of a cut than the wall time does.
double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Run
{
    QString photo;
    QList<double> ious;     // after 1 .. maxClicks clicks
    QList<double> keptShare; // kept pixels over object pixels, after each click
    QList<double> clickMs;  // each click's cut
    QList<double> clickCpuMs;
    QString kinds;          // k or r for each click, upper case where it was moved
    int moved = 0;          // clicks moved off the first row or column
};

// The photo with the kept pixels tinted blue, the true outline's missed and extra pixels in
// yellow and magenta, and the dabs as squares: green keep, red remove.
QImage resultPicture(const QImage &photo, const Truth &truth, const Mask &mask, const QList<MarkerDab> &dabs)
{
    QImage picture = photo.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < truth.H; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < truth.W; ++x) {
            const size_t i = size_t(y) * truth.W + x;
            const QRgb c = line[x];
            const uchar t = truth.values[i];
            if (t == 255 && !mask[i])
                line[x] = qRgb((qRed(c) + 255) / 2, (qGreen(c) + 230) / 2, qBlue(c) / 2);
            else if (t == 0 && mask[i])
                line[x] = qRgb((qRed(c) + 255) / 2, qGreen(c) / 2, (qBlue(c) + 255) / 2);
            else if (mask[i])
                line[x] = qRgb(qRed(c) / 2, qGreen(c) / 2, 128 + qBlue(c) / 2);
            else
                line[x] = qRgb(qRed(c) / 2, qGreen(c) / 2, qBlue(c) / 2);
        }
    }
    for (const MarkerDab &dab : dabs) {
        const QRect r = dab.rect.toRect() & picture.rect();
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                picture.setPixel(x, y, dab.keep ? qRgb(0, 255, 0) : qRgb(255, 0, 0));
    }
    return picture;
}

QString picturesFolder; // where --pictures puts each click's result

Run robotRun(Method &method, const QString &name, const QImage &photo, const Truth &truth)
{
    Run run;
    run.photo = name;
    method.open(photo);
    Mask mask(size_t(truth.W) * truth.H, 0);
    QList<MarkerDab> dabs;
    for (int k = 0; k < maxClicks; ++k) {
        Click click;
        if (nextClick(mask, truth, click)) {
            bool moved = false;
            const MarkerDab dab = dabOf(click, &moved);
            run.moved += moved;
            const QChar kind = QLatin1Char(click.keep ? 'k' : 'r');
            run.kinds += moved ? kind.toUpper() : kind;
            dabs.append(dab);
        }
        QElapsedTimer timer;
        const double cpu = cpuMs();
        timer.start();
        mask = method.cut(dabs);
        run.clickMs.append(timer.nsecsElapsed() / 1e6);
        run.clickCpuMs.append(cpuMs() - cpu);
        run.ious.append(iou(mask, truth));
        qint64 kept = 0, object = 0;
        for (size_t i = 0; i < mask.size(); ++i) {
            kept += mask[i] && (truth.values[i] == 0 || truth.values[i] == 255);
            object += truth.values[i] == 255;
        }
        run.keptShare.append(object ? double(kept) / object : 0.0);
        if (!picturesFolder.isEmpty()) {
            const QString stem = QStringLiteral("%1/%2-%3-%4").arg(picturesFolder, method.name(), name).arg(k + 1, 2, 10, QLatin1Char('0'));
            resultPicture(photo, truth, mask, dabs).save(stem + QStringLiteral(".png"));
            QFile strokes(stem + QStringLiteral(".txt"));
            if (strokes.open(QIODevice::WriteOnly))
                strokes.write(markerText(dabs).toUtf8());
        }
    }
    return run;
}

struct Summary
{
    QString method;
    double noc85 = 0;
    double noc90 = 0;
    QList<double> meanIou; // after 1, 3, 5, 10, 20
    int never90 = 0;
    int objects = 0;
    double harmfulPercent = 0;
    double medianClickMs = 0;
    double meanClickMs = 0;
    double meanClickCpuMs = 0;
    int moved = 0;
};

const int iouAfter[] = {1, 3, 5, 10, 20};

Summary summarise(const QString &method, const QList<Run> &runs)
{
    Summary s;
    s.method = method;
    s.objects = int(runs.size());
    QList<double> times;
    double cpu = 0;
    qint64 harmful = 0, counted = 0;
    for (const Run &run : runs) {
        const auto noc = [&](double threshold) {
            for (int k = 0; k < run.ious.size(); ++k) {
                if (run.ious[k] >= threshold)
                    return k + 1;
            }
            return maxClicks;
        };
        s.noc85 += noc(0.85);
        s.noc90 += noc(0.90);
        bool reached = false;
        for (double v : run.ious)
            reached = reached || v >= 0.90;
        s.never90 += !reached;
        for (int k = 2; k < run.ious.size(); ++k) {
            ++counted;
            harmful += run.ious[k] < run.ious[k - 1] - harmfulDrop;
        }
        times += run.clickMs;
        for (double t : run.clickCpuMs)
            cpu += t;
        s.moved += run.moved;
    }
    for (int after : iouAfter) {
        double sum = 0;
        for (const Run &run : runs)
            sum += run.ious.value(after - 1);
        s.meanIou.append(runs.isEmpty() ? 0 : sum / runs.size());
    }
    if (!runs.isEmpty()) {
        s.noc85 /= runs.size();
        s.noc90 /= runs.size();
    }
    s.harmfulPercent = counted ? 100.0 * harmful / counted : 0;
    std::sort(times.begin(), times.end());
    s.medianClickMs = times.isEmpty() ? 0 : times.at(times.size() / 2);
    double total = 0;
    for (double t : std::as_const(times))
        total += t;
    s.meanClickMs = times.isEmpty() ? 0 : total / times.size();
    s.meanClickCpuMs = times.isEmpty() ? 0 : cpu / times.size();
    return s;
}

struct Sample
{
    QString name;
    QString imagePath;
    QString maskPath;
};

QList<Sample> samplesIn(const QString &folder)
{
    QList<Sample> samples;
    const QDir images(folder + QStringLiteral("/images"));
    const QDir masks(folder + QStringLiteral("/masks"));
    const QStringList files = images.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.png"), QStringLiteral("*.bmp")},
                                               QDir::Files, QDir::Name);
    for (const QString &file : files) {
        const QString name = QFileInfo(file).completeBaseName();
        const QString mask = masks.filePath(name + QStringLiteral(".png"));
        if (QFile::exists(mask))
            samples.append({name, images.filePath(file), mask});
    }
    return samples;
}

bool readTruth(const QString &path, QSize size, Truth &truth)
{
    const QImage grey = readPicture(path).convertToFormat(QImage::Format_Grayscale8);
    if (grey.size() != size)
        return false;
    truth.W = size.width();
    truth.H = size.height();
    truth.values.resize(size_t(truth.W) * truth.H);
    for (int y = 0; y < truth.H; ++y)
        std::copy_n(grey.constScanLine(y), truth.W, truth.values.begin() + qsizetype(y) * truth.W);
    return true;
}

void printTable(const QList<Summary> &all)
{
    std::printf("\n%-10s %7s %7s %7s %7s %7s %7s %7s %8s %9s %9s %9s %9s %7s\n", "method", "NoC@85", "NoC@90",
                "IoU@1", "IoU@3", "IoU@5", "IoU@10", "IoU@20", "never90", "harmful%", "ms/click", "(median)",
                "cpu ms", "moved");
    for (const Summary &s : all) {
        std::printf("%-10s %7.2f %7.2f", qPrintable(s.method), s.noc85, s.noc90);
        for (double v : s.meanIou)
            std::printf(" %7.3f", v);
        std::printf(" %5d/%-2d %9.1f %9.1f %9.1f %9.1f %7d\n", s.never90, s.objects, s.harmfulPercent,
                    s.meanClickMs, s.medianClickMs, s.meanClickCpuMs, s.moved);
    }
}

struct BigFigures
{
    QString method;
    double maskMs = 0;
    double peakPerPixel = 0; // 0 where not measured
};

// The Mask command's isolation on the big noisy photo with its strokes, after the analysis
// that Open does; median of three, the peak of the last.
QList<BigFigures> bigPhoto(bool withGrabCut, int grabCutIterations)
{
    QList<BigFigures> figures;
    const QImage photo = noisyBenchPhoto(24);
    if (photo.isNull()) {
        std::printf("\n(no 24-megapixel noisy photo: %s or ImageMagick's convert missing)\n", benchPhotoPath());
        return figures;
    }
    const QList<MarkerDab> newestFirst = benchStrokes(photo.size());
    QList<MarkerDab> drawingOrder(newestFirst.crbegin(), newestFirst.crend());
    const double pixels = double(photo.width()) * photo.height();
    std::printf("\n24-megapixel noisy photo %d x %d, %lld dabs: Mask (isolation), median of 3\n", photo.width(),
                photo.height(), qint64(drawingOrder.size()));
    for (IsolationMethod method : {IsolationMethod::ColourClusters, IsolationMethod::Precise}) {
        CutSession session;
        session.setIsolationMethod(method);
        session.setPhoto(photo);
        session.analyse();
        session.setDabs(drawingOrder);
        BigFigures f;
        f.method = isolationMethodName(method);
        qint64 peak = 0;
        f.maskMs = medianMs(3, [&] {
            session.releaseKeepPixels(); // stale: the next isolate() runs in full
            malloc_trim(0);
            const PeakGrowth growth;
            session.isolate();
            peak = growth.bytes();
        });
        f.peakPerPixel = peak / pixels;
        std::printf("  %-10s %9.1f ms  peak %.2f bytes per pixel, %lld keep pixels\n", qPrintable(f.method),
                    f.maskMs, f.peakPerPixel, qint64(session.keepPixels().size()));
        figures.append(f);
    }
#ifdef PELTRIX_HAVE_OPENCV
    cv::setNumThreads(Parallel::threadCount());
    QList<Method *> others;
    Watershed watershed;
    GrabCut grabCut(grabCutIterations);
    others.append(&watershed);
    if (withGrabCut)
        others.append(&grabCut);
    for (Method *method : std::as_const(others)) {
        method->open(photo);
        BigFigures f;
        f.method = method->name();
        const int runs = method == &grabCut ? 1 : 3;
        f.maskMs = medianMs(runs, [&] { (void)method->cut(drawingOrder); });
        std::printf("  %-10s %9.1f ms%s\n", qPrintable(f.method), f.maskMs, runs == 1 ? " (one run)" : "");
        figures.append(f);
    }
#else
    Q_UNUSED(withGrabCut)
    Q_UNUSED(grabCutIterations)
#endif
    return figures;
}

void printTargets(const QList<Summary> &all, const QList<BigFigures> &big)
{
    const auto find = [&](const QString &name) -> const Summary * {
        for (const Summary &s : all) {
            if (s.method == name)
                return &s;
        }
        return nullptr;
    };
    const Summary *clusters = find(isolationMethodName(IsolationMethod::ColourClusters));
    const Summary *precise = find(isolationMethodName(IsolationMethod::Precise));
    const Summary *grabCut = find(QStringLiteral("grabCut"));
    std::printf("\nAgainst the targets (%s):\n", precise ? "precise" : "no precise run");
    if (precise) {
        if (clusters)
            std::printf("  NoC@90 %.2f = %.2f x the colour clusters' %.2f (target <= %.1f x)\n", precise->noc90,
                        precise->noc90 / clusters->noc90, clusters->noc90, nocTarget);
        std::printf("  never at 0.90: %d of %d (target <= %d)\n", precise->never90, precise->objects, neverTarget);
        std::printf("  harmful clicks %.1f %% (target <= %.0f %%)\n", precise->harmfulPercent, harmfulTarget);
        if (grabCut)
            std::printf("  NoC@90 %.2f against grabCut's %.2f (target: no more)\n", precise->noc90, grabCut->noc90);
        std::printf("  %.1f ms per click on average, median %.1f (target <= %.0f); processor time %.1f ms "
                    "per click over all threads\n",
                    precise->meanClickMs, precise->medianClickMs, clickMsTarget, precise->meanClickCpuMs);
    }
    const BigFigures *seedBig = nullptr;
    const BigFigures *preciseBig = nullptr;
    for (const BigFigures &f : big) {
        if (f.method == isolationMethodName(IsolationMethod::ColourClusters))
            seedBig = &f;
        if (f.method == isolationMethodName(IsolationMethod::Precise))
            preciseBig = &f;
    }
    if (seedBig && preciseBig) {
        std::printf("  24 MP noisy Mask %.1f ms = %.2f x the colour clusters' %.1f ms (target <= %.1f x)\n",
                    preciseBig->maskMs, preciseBig->maskMs / seedBig->maskMs, seedBig->maskMs, bigMaskTarget);
        std::printf("  24 MP noisy: the precise isolation's own peak %.2f bytes per pixel (the window's whole "
                    "session: target <= %.0f)\n",
                    preciseBig->peakPerPixel, bigPeakTarget);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // Big blocks come from and go back to the system, so the resident peak is what a run holds.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);

    QString folder = QStringLiteral(PELTRIX_SOURCE_DIR "/../shared/data/coco80");
    QStringList methods = {QStringLiteral("clusters"), QStringLiteral("precise"), QStringLiteral("watershed"),
                           QStringLiteral("grabcut")};
    int limit = 0;
    int stride = 1;
    QString only;
    int grabCutIterations = 5;
    bool big = true;
    bool bigGrabCut = false;
    QString details;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--data") && hasValue)
            folder = args[++i];
        else if (args[i] == QLatin1String("--methods") && hasValue)
            methods = args[++i].split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (args[i] == QLatin1String("--limit") && hasValue)
            limit = args[++i].toInt();
        else if (args[i] == QLatin1String("--stride") && hasValue)
            stride = args[++i].toInt();
        else if (args[i] == QLatin1String("--threads") && hasValue)
            Parallel::setThreadCount(args[++i].toInt());
        else if (args[i] == QLatin1String("--grabcut-iterations") && hasValue)
            grabCutIterations = args[++i].toInt();
        else if (args[i] == QLatin1String("--big-grabcut"))
            bigGrabCut = true;
        else if (args[i] == QLatin1String("--no-big"))
            big = false;
        else if (args[i] == QLatin1String("--pictures") && hasValue)
            picturesFolder = args[++i];
        else if (args[i] == QLatin1String("--only") && hasValue)
            only = args[++i];
        else if (args[i] == QLatin1String("--details") && hasValue)
            details = args[++i];
        else {
            std::fprintf(stderr, "unknown argument %s (see the head of bench_clicks.cpp)\n", qPrintable(args[i]));
            return 2;
        }
    }

    QList<Sample> samples = samplesIn(folder);
    if (samples.isEmpty()) {
        std::printf("no photos with masks in %s (images/NAME.jpg|png|bmp and masks/NAME.png); give another "
                    "folder with --data\n",
                    qPrintable(QDir::cleanPath(folder)));
        return 1;
    }
    if (limit > 0 && limit < samples.size())
        samples = samples.mid(0, limit);
    if (!only.isEmpty())
        samples.removeIf([&](const Sample &sample) { return !sample.name.contains(only); });
    if (stride > 1) {
        QList<Sample> every;
        for (qsizetype i = 0; i < samples.size(); i += stride)
            every.append(samples[i]);
        samples = every;
    }

    std::vector<std::unique_ptr<Method>> chosen;
    for (const QString &m : std::as_const(methods)) {
        if (m == QLatin1String("clusters"))
            chosen.push_back(std::make_unique<SessionMethod>(IsolationMethod::ColourClusters));
        else if (m == QLatin1String("precise"))
            chosen.push_back(std::make_unique<SessionMethod>(IsolationMethod::Precise));
#ifdef PELTRIX_HAVE_OPENCV
        else if (m == QLatin1String("watershed"))
            chosen.push_back(std::make_unique<Watershed>());
        else if (m == QLatin1String("grabcut"))
            chosen.push_back(std::make_unique<GrabCut>(grabCutIterations));
#endif
        else
            std::printf("(no method %s in this build: skipped)\n", qPrintable(m));
    }
#ifdef PELTRIX_HAVE_OPENCV
    // The comparisons on one thread each, as OpenCV's grabCut runs anyway.
    cv::setNumThreads(1);
#endif
    std::printf("%lld photos from %s; %d threads; clicks up to %d, dabs up to %d px%s\n", qint64(samples.size()),
                qPrintable(QDir::cleanPath(folder)), Parallel::threadCount(), maxClicks, largestDab,
                methods.contains(QLatin1String("grabcut")) ? qPrintable(QStringLiteral("; grabCut %1 iterations")
                                                                            .arg(grabCutIterations))
                                                           : "");

    QFile detailFile(details);
    QTextStream detailOut(&detailFile);
    if (!details.isEmpty() && !detailFile.open(QIODevice::WriteOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(details));
        return 1;
    }

    QList<Summary> summaries;
    for (const std::unique_ptr<Method> &method : chosen) {
        QList<Run> runs;
        QElapsedTimer clock;
        clock.start();
        for (const Sample &sample : std::as_const(samples)) {
            const QImage photo = readPicture(sample.imagePath);
            Truth truth;
            if (photo.isNull() || !readTruth(sample.maskPath, photo.size(), truth)) {
                std::printf("  %s: unreadable or sizes differ, skipped\n", qPrintable(sample.name));
                continue;
            }
            runs.append(robotRun(*method, sample.name, photo, truth));
            if (!details.isEmpty()) {
                detailOut << method->name() << ' ' << sample.name << ' ' << runs.last().kinds;
                for (double v : std::as_const(runs.last().ious))
                    detailOut << ' ' << QString::number(v, 'f', 4);
                detailOut << '\n' << "area " << sample.name;
                for (double v : std::as_const(runs.last().keptShare))
                    detailOut << ' ' << QString::number(v, 'f', 3);
                detailOut << '\n';
                detailOut.flush();
            }
        }
        summaries.append(summarise(method->name(), runs));
        std::printf("  %s: %lld photos in %.1f s\n", qPrintable(method->name()), qint64(runs.size()),
                    clock.elapsed() / 1000.0);
    }
    printTable(summaries);

    const QList<BigFigures> bigFigures = big ? bigPhoto(bigGrabCut, grabCutIterations) : QList<BigFigures>();
    printTargets(summaries, bigFigures);
    return 0;
}
