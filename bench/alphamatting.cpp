#include "bench/alphamatting.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "analysis/parallel.h"
#include "analysis/progress.h"
#include "isolation/markerinput.h"
#include "isolation/markers.h"
#include "output/matte.h"
#include "output/pictureio.h"
#include "output/refine.h"
#include "session/cutsession.h"

#ifdef PELTRIX_HAVE_OPENCV_CONTRIB
#include <opencv2/core.hpp>
#include <opencv2/alphamat.hpp>
#endif

namespace {

enum Sure : quint8 { Background = 0, Unknown = 1, Object = 2 };

struct Photo
{
    QString name;
    QImage picture;             // ARGB32
    std::vector<quint8> trimap; // Sure per pixel
    std::vector<float> truth;   // 0..1
    int W = 0, H = 0;
};

bool loadPhoto(const QString &folder, const QString &name, Photo &p)
{
    p.name = name;
    p.picture = readPicture(QDir(folder).filePath(QStringLiteral("images/%1.png").arg(name)));
    const QImage trimap = QImage(QDir(folder).filePath(QStringLiteral("trimaps/Trimap1/%1.png").arg(name)))
                              .convertToFormat(QImage::Format_Grayscale8);
    const QImage alpha =
        QImage(QDir(folder).filePath(QStringLiteral("alpha/%1.png").arg(name))).convertToFormat(QImage::Format_Grayscale8);
    if (p.picture.isNull() || trimap.size() != p.picture.size() || alpha.size() != p.picture.size())
        return false;
    p.W = p.picture.width();
    p.H = p.picture.height();
    p.trimap.resize(size_t(p.W) * p.H);
    p.truth.resize(size_t(p.W) * p.H);
    for (int y = 0; y < p.H; ++y) {
        const uchar *t = trimap.constScanLine(y), *a = alpha.constScanLine(y);
        for (int x = 0; x < p.W; ++x) {
            const size_t i = size_t(y) * p.W + x;
            p.trimap[i] = t[x] == 255 ? Object : t[x] == 0 ? Background : Unknown;
            p.truth[i] = a[x] / 255.0f;
        }
    }
    return true;
}

// Chamfer distance (3-4 steps, in pixels) to the nearest pixel where `target` holds.
template<typename Target>
std::vector<float> distanceTo(int W, int H, Target target)
{
    constexpr float far = 1e9f;
    std::vector<float> d(size_t(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            d[size_t(y) * W + x] = target(size_t(y) * W + x) ? 0 : far;
    auto relax = [&](int x, int y, int dx, int dy, float step) {
        const int u = x + dx, v = y + dy;
        if (u >= 0 && u < W && v >= 0 && v < H)
            d[size_t(y) * W + x] = std::min(d[size_t(y) * W + x], d[size_t(v) * W + u] + step);
    };
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            relax(x, y, -1, 0, 1);
            relax(x, y, 0, -1, 1);
            relax(x, y, -1, -1, 4 / 3.0f);
            relax(x, y, 1, -1, 4 / 3.0f);
        }
    }
    for (int y = H - 1; y >= 0; --y) {
        for (int x = W - 1; x >= 0; --x) {
            relax(x, y, 1, 0, 1);
            relax(x, y, 0, 1, 1);
            relax(x, y, 1, 1, 4 / 3.0f);
            relax(x, y, -1, 1, 4 / 3.0f);
        }
    }
    return d;
}

// Strokes as a user paints them on the sure parts: keep dabs along the inside of the
// object and remove dabs along the background, each a fixed distance from the unknown
// region, a dab every third of its size; with `edges`, edge dabs brushed over the whole
// unknown region as well (reaching over its rim, as a brush does).
QList<MarkerDab> strokesFromTrimap(const Photo &p, bool edges)
{
    constexpr int dabSize = 10;
    constexpr float inset = 12; // the whole square stays on the sure part
    constexpr int spacing = dabSize / 3;
    QList<MarkerDab> dabs;
    const QSizeF area(p.W, p.H);
    for (const Sure side : {Object, Background}) {
        const std::vector<float> d = distanceTo(p.W, p.H, [&](size_t i) { return p.trimap[i] != side; });
        std::vector<quint8> taken(size_t(p.W) * p.H, 0);
        for (int y = 0; y < p.H; ++y) {
            for (int x = 0; x < p.W; ++x) {
                const float v = d[size_t(y) * p.W + x];
                if (v < inset || v >= inset + 1 || taken[size_t(y) * p.W + x])
                    continue;
                const QPointF corner(x + 0.5 - dabSize / 2.0, y + 0.5 - dabSize / 2.0);
                if (!dabCornerAccepted(corner, area))
                    continue;
                dabs.append({side == Object, QRectF(corner, QSizeF(dabSize, dabSize))});
                for (int v2 = std::max(0, y - spacing); v2 <= std::min(p.H - 1, y + spacing); ++v2)
                    for (int u = std::max(0, x - spacing); u <= std::min(p.W - 1, x + spacing); ++u)
                        taken[size_t(v2) * p.W + u] = 1;
            }
        }
    }
    if (edges) {
        constexpr int brush = 20;
        std::vector<quint8> covered(size_t(p.W) * p.H, 0);
        for (int y = 0; y < p.H; ++y) {
            for (int x = 0; x < p.W; ++x) {
                const size_t i = size_t(y) * p.W + x;
                if (p.trimap[i] != Unknown || covered[i])
                    continue;
                const int x0 = std::max(1, x - brush / 2), y0 = std::max(1, y - brush / 4);
                dabs.append(MarkerDab::edgeDab(QRectF(x0, y0, brush, brush)));
                for (int v = y0; v < std::min(p.H, y0 + brush); ++v)
                    std::fill_n(&covered[size_t(v) * p.W + x0], std::min(p.W, x0 + brush) - x0, quint8(1));
            }
        }
    }
    return dabs;
}

struct Scores
{
    double sadIn = 0;  // /1000, inside the trimap's unknown region
    double mseIn = 0;  // mean over the unknown region
    double sadOut = 0; // /1000, on the trimap's sure parts
    double iou = 0;    // alpha > 0.5 against truth > 0.5
    double ms = 0;
    double cpuMs = 0; // over all threads
    int count = 0;

    void add(const Scores &s)
    {
        sadIn += s.sadIn;
        mseIn += s.mseIn;
        sadOut += s.sadOut;
        iou += s.iou;
        ms += s.ms;
        cpuMs += s.cpuMs;
        ++count;
    }
};

// This process's CPU time over all threads: steadier than the wall clock on a busy machine.
double cpuNow()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Median wall and CPU times of `runs` calls.
struct Times
{
    double wall = 0, cpu = 0;
};
template<typename Work>
Times medianTimes(int runs, Work work)
{
    std::vector<double> wall, cpu;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        const double start = cpuNow();
        work();
        cpu.push_back(cpuNow() - start);
        wall.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

Scores score(const Photo &p, const std::vector<float> &alpha, double ms, double cpuMs)
{
    Scores s;
    s.cpuMs = cpuMs;
    double squares = 0;
    qint64 unknown = 0, both = 0, either = 0;
    for (size_t i = 0; i < alpha.size(); ++i) {
        const double d = std::abs(double(alpha[i]) - p.truth[i]);
        if (p.trimap[i] == Unknown) {
            s.sadIn += d;
            squares += d * d;
            ++unknown;
        } else {
            s.sadOut += d;
        }
        const bool mine = alpha[i] > 0.5f, truth = p.truth[i] > 0.5f;
        both += mine && truth;
        either += mine || truth;
    }
    s.sadIn /= 1000;
    s.sadOut /= 1000;
    s.mseIn = unknown ? squares / unknown : 0;
    s.iou = either ? double(both) / either : 1;
    s.ms = ms;
    return s;
}

QList<qint32> keepIndices(const Photo &p, const std::vector<quint8> &keep)
{
    QList<qint32> out;
    for (int x = 0; x < p.W; ++x)
        for (int y = 0; y < p.H; ++y)
            if (keep[size_t(y) * p.W + x])
                out.append(y * p.W + x);
    return out;
}

// The refinement given the trimap: its grey solved, nothing else.
RefinedCutout refineOnTrimap(const Photo &p, const StageTimer &stageTimer = {})
{
    std::vector<quint8> keep(p.trimap.size());
    QImage unknown(p.W, p.H, QImage::Format_Grayscale8);
    for (int y = 0; y < p.H; ++y) {
        uchar *line = unknown.scanLine(y);
        for (int x = 0; x < p.W; ++x) {
            const size_t i = size_t(y) * p.W + x;
            keep[i] = p.trimap[i] == Object;
            line[x] = p.trimap[i] == Unknown ? 255 : 0;
        }
    }
    RefineRegion region;
    region.painted = unknown;
    region.band = false;
    return refineEdges(p.picture, keepIndices(p, keep), region, {}, stageTimer);
}

#ifdef PELTRIX_HAVE_OPENCV_CONTRIB
std::vector<float> infoFlowAlpha(const Photo &p, Times &times)
{
    cv::Mat bgr(p.H, p.W, CV_8UC3), trimap(p.H, p.W, CV_8UC1);
    for (int y = 0; y < p.H; ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(p.picture.constScanLine(y));
        for (int x = 0; x < p.W; ++x) {
            bgr.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(qBlue(in[x])), uchar(qGreen(in[x])), uchar(qRed(in[x])));
            const quint8 t = p.trimap[size_t(y) * p.W + x];
            trimap.at<uchar>(y, x) = t == Object ? 255 : t == Background ? 0 : 128;
        }
    }
    // It prints its progress on standard output; keep the table clean.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    cv::Mat result;
    times = medianTimes(1, [&] { cv::alphamat::infoFlow(bgr, trimap, result); });
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(null);
    close(saved);
    std::vector<float> alpha(size_t(p.W) * p.H);
    for (int y = 0; y < p.H; ++y)
        for (int x = 0; x < p.W; ++x)
            alpha[size_t(y) * p.W + x] = result.at<uchar>(y, x) / 255.0f;
    return alpha;
}
#endif


enum Method {
    TrimapRefine,
    TrimapInfoFlow,
    StrokesPlain,
    StrokesGaussian,
    StrokesRefine,
    EdgesSolved,
    EdgesRefine,
    MethodCount
};
const char *const methodNames[MethodCount] = {
    "trimap: refine",   "trimap: infoFlow", "strokes: decision", "strokes: Gaussian", "strokes: refine",
    "+edge dabs: Gauss.", "+edge dabs: refine",
};

void printRow(const char *photo, const char *method, const Scores &s)
{
    std::printf("%-6s %-20s %8.2f %9.2f %8.2f %7.4f %9.1f %9.1f\n", photo, method, s.sadIn, s.mseIn * 1e3, s.sadOut,
                s.iou, s.ms, s.cpuMs);
}

} // namespace

std::vector<float> alphaOfMatte(const QImage &matte)
{
    std::vector<float> alpha(size_t(matte.width()) * matte.height());
    for (int y = 0; y < matte.height(); ++y) {
        const uchar *line = matte.constScanLine(y);
        for (int x = 0; x < matte.width(); ++x)
            alpha[size_t(y) * matte.width() + x] = (255 - line[4 * x]) / 255.0f;
    }
    return alpha;
}


int runAlphaMatting(const AlphaMattingOptions &options)
{
    const QString folder = QDir(options.dataFolder).filePath(QStringLiteral("alphamatting13"));
    if (!QFileInfo::exists(QDir(folder).filePath(QStringLiteral("images")))) {
        std::printf("missing the measurement data: no %s/images (give the folder that holds alphamatting13 "
                    "with --data)\n",
                    qPrintable(QDir::cleanPath(folder)));
        return 1;
    }
    QStringList names = QDir(QDir(folder).filePath(QStringLiteral("images")))
                            .entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    for (QString &name : names)
        name.chop(4);
    if (!options.only.isEmpty())
        names = names.filter(options.only);
    bool openCv = options.openCv;
#ifndef PELTRIX_HAVE_OPENCV_CONTRIB
    openCv = false;
#endif

    std::printf("%lld photos of %s with Trimap1 as the unknown region, and end to end from strokes made from it\n"
                "(keep and remove dabs of 10 px along the sure parts, 12 px from the unknown region; +edge dabs:\n"
                "edge dabs of 20 px over the unknown region too, refinement off or on).\n"
                "%d threads; times: median of %d run(s), the method alone, infoFlow once.\n\n",
                static_cast<long long>(names.size()), qPrintable(QDir::cleanPath(folder)), Parallel::threadCount(),
                options.runs);
    std::printf("SAD in, MSE in: inside the unknown region (SAD /1000, MSE x1000); SAD out: on the sure parts;\n"
                "IoU of alpha > 0.5 over the picture.\n\n");
    std::printf("%-6s %-20s %8s %9s %8s %7s %9s %9s\n", "photo", "method", "SAD in", "MSE in", "SAD out", "IoU", "ms",
                "CPU ms");

    Scores totals[MethodCount];
    for (const QString &name : std::as_const(names)) {
        Photo p;
        if (!loadPhoto(folder, name, p)) {
            std::printf("%s: cannot read the photo, its trimap or its alpha\n", qPrintable(name));
            return 1;
        }
        Scores s[MethodCount];
        bool have[MethodCount] = {};

        RefinedCutout refined;
        Times times = medianTimes(options.runs, [&] { refined = refineOnTrimap(p); });
        s[TrimapRefine] = score(p, alphaOfMatte(refined.matte), times.wall, times.cpu);
        have[TrimapRefine] = true;
        if (options.stages) {
            std::printf("%-6s refinement stages:", qPrintable(name));
            refineOnTrimap(p, [](const char *stage, qint64 ns) { std::printf(" %s %.0f", stage, ns / 1e6); });
            std::printf(" ms\n");
        }
#ifdef PELTRIX_HAVE_OPENCV_CONTRIB
        if (openCv) {
            const std::vector<float> flow = infoFlowAlpha(p, times);
            s[TrimapInfoFlow] = score(p, flow, times.wall, times.cpu);
            have[TrimapInfoFlow] = true;
        }
#endif

        // End to end through the session, as peltrix-cut runs it: the matte alone is timed.
        CutSession session;
        session.setPhoto(p.picture);
        session.analyse();
        const auto matteFrom = [&](const QList<MarkerDab> &drawingOrder, bool smooth, bool refine, Method method) {
            session.setSmoothing(smooth, 5);
            session.setRefine(refine);
            QImage matte;
            Times sum;
            for (int run = 0; run < options.runs; ++run) {
                session.setDabs(drawingOrder); // the matte is made again
                session.isolate();
                const Times once = medianTimes(1, [&] { matte = session.buildMatte(); });
                sum.wall += once.wall;
                sum.cpu += once.cpu;
            }
            const bool timed = method != StrokesPlain;
            s[method] = score(p, alphaOfMatte(matte), timed ? sum.wall / options.runs : 0,
                              timed ? sum.cpu / options.runs : 0);
            have[method] = true;
        };
        const QList<MarkerDab> strokes = strokesFromTrimap(p, false);
        matteFrom(strokes, false, false, StrokesPlain);
        matteFrom(strokes, true, false, StrokesGaussian);
        matteFrom(strokes, true, true, StrokesRefine);
        const QList<MarkerDab> withEdges = strokesFromTrimap(p, true);
        matteFrom(withEdges, true, false, EdgesSolved);
        matteFrom(withEdges, true, true, EdgesRefine);

        for (int m = 0; m < MethodCount; ++m) {
            if (!have[m])
                continue;
            printRow(m == 0 ? qPrintable(name) : "", methodNames[m], s[m]);
            totals[m].add(s[m]);
        }
        std::fflush(stdout);
    }

    std::printf("\nmeans over %lld photos:\n", static_cast<long long>(names.size()));
    std::printf("%-6s %-20s %8s %9s %8s %7s %9s %9s\n", "", "method", "SAD in", "MSE in", "SAD out", "IoU", "ms",
                "CPU ms");
    Scores mean[MethodCount];
    for (int m = 0; m < MethodCount; ++m) {
        const Scores &t = totals[m];
        if (!t.count)
            continue;
        mean[m] = {t.sadIn / t.count, t.mseIn / t.count, t.sadOut / t.count, t.iou / t.count, t.ms / t.count,
                   t.cpuMs / t.count, t.count};
        printRow("", methodNames[m], mean[m]);
    }
    if (mean[TrimapInfoFlow].count) {
        std::printf("\ntrimap: SAD in, refine %.2f vs infoFlow %.2f (target <=); time %.1f vs %.1f ms: x%.3f "
                    "(target <= 0.1); CPU x%.3f\n",
                    mean[TrimapRefine].sadIn, mean[TrimapInfoFlow].sadIn, mean[TrimapRefine].ms,
                    mean[TrimapInfoFlow].ms, mean[TrimapRefine].ms / mean[TrimapInfoFlow].ms,
                    mean[TrimapRefine].cpuMs / mean[TrimapInfoFlow].cpuMs);
    }
    std::printf("strokes: SAD out, refine %.2f vs the decision %.2f (target <=)\n", mean[StrokesRefine].sadOut,
                mean[StrokesPlain].sadOut);
    std::printf("strokes: SAD in, refine %.2f, with edge dabs %.2f (Gaussian around them) and %.2f (refined)\n",
                mean[StrokesRefine].sadIn, mean[EdgesSolved].sadIn, mean[EdgesRefine].sadIn);
    return 0;
}
