// Edge refinement against a known alpha: composites of two real photos through a random
// blob whose outline carries hair-like strands, defocus blur or a sharp edge, cut with the
// real pipeline from painted strokes. Compares no smoothing, the Gaussian feather, the
// refinement and, when built with OpenCV's contrib modules, information-flow matting and
// the guided filter on the same binary decision.
//
//   bench_refine [--cases N] [--runs N] [--threads N] [--stages] [--no-opencv]
//                [--infoflow-band] [--shot FILE.png] [--keep DIR]
//   bench_refine --alphamatting [--data DIR] [--only NAME] [--runs N] [--threads N] [--stages]
//                [--no-opencv]
// --infoflow-band adds information-flow matting on the refinement's own band; --shot saves
// the Gaussian and the refined cut-out of the first case's hair over a colour; --keep keeps
// the composites and the decisions. --alphamatting measures on real photos with a true alpha
// instead (see alphamatting.h), read from DIR/alphamatting13, by default the measurement
// data beside the source tree.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPainter>
#include <QPainterPath>
#include <QFileInfo>
#include <QMap>
#include <QThread>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>

#include "analysis/analysis.h"
#include "analysis/parallel.h"
#include "bench/alphamatting.h"
#include "bench/benchsupport.h"
#include "isolation/isolation.h"
#include "isolation/markerinput.h"
#include "isolation/markers.h"
#include "output/compose.h"
#include "output/matte.h"
#include "output/pictureio.h"
#include "output/refine.h"

#ifdef PELTRIX_HAVE_OPENCV_CONTRIB
#include <opencv2/core.hpp>
#include <opencv2/alphamat.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>
#endif

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int superSampling = 4;

enum EdgeKind { Hair, Blur, Sharp, KindCount };
const char *const kindNames[KindCount] = {"hair", "blur", "sharp"};

// Uniform numbers from a fixed-seed generator, the same on every standard library.
class Random
{
public:
    explicit Random(quint32 seed) : engine(seed) {}
    double uniform(double low, double high) { return low + (high - low) * (engine() / 4294967296.0); }
    int below(int n) { return int(engine() % quint32(n)); }

private:
    std::mt19937 engine;
};

struct Arc
{
    double begin, end; // angles, begin < end, covering [0, 2 pi) together
    EdgeKind kind;
    double blurRadius;
};

struct Case
{
    QString name;
    QString path;           // the composite, saved losslessly
    QImage foreground;      // F, ARGB32
    QImage background;      // B
    std::vector<float> alpha; // the truth, 0..1
    std::vector<quint8> kindOf; // edge kind by the pixel's angle around the blob
    std::vector<quint8> edgeBand; // 1 within a few pixels of a fractional true alpha
    QList<MarkerDab> drawingOrder;
    QPointF centre;
    QList<Arc> arcs;
    QRect shotRect; // a hair arc's neighbourhood
    int W = 0, H = 0;
};

// A crop of a random part of a photo scaled to W x H.
QImage photoCrop(const QString &path, int W, int H, Random &random)
{
    const QImage original = QImage(path).convertToFormat(QImage::Format_ARGB32);
    const double scale = std::min(original.width() / double(W), original.height() / double(H));
    const double zoom = random.uniform(0.55, 1.0);
    const int cw = int(W * scale * zoom), ch = int(H * scale * zoom);
    const int x = random.below(std::max(1, original.width() - cw));
    const int y = random.below(std::max(1, original.height() - ch));
    return original.copy(x, y, cw, ch).scaled(W, H, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Coverage of a supersampled alpha layer, averaged down to W x H.
std::vector<float> downsample(const QImage &layer, int W, int H)
{
    std::vector<float> out(size_t(W) * H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            int sum = 0;
            for (int sy = 0; sy < superSampling; ++sy) {
                const QRgb *line = reinterpret_cast<const QRgb *>(layer.constScanLine(y * superSampling + sy));
                for (int sx = 0; sx < superSampling; ++sx)
                    sum += qAlpha(line[x * superSampling + sx]);
            }
            out[size_t(y) * W + x] = sum / (255.0f * superSampling * superSampling);
        }
    }
    return out;
}

// Defocus: a disc of the given radius with its rim pixels weighted by their coverage.
std::vector<float> discBlur(const std::vector<float> &in, int W, int H, double radius)
{
    const int r = int(std::ceil(radius));
    std::vector<float> kernel;
    std::vector<QPoint> offsets;
    double total = 0;
    for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
            int inside = 0;
            for (int s = 0; s < 16; ++s) {
                const double px = dx + (s % 4 + 0.5) / 4 - 0.5, py = dy + (s / 4 + 0.5) / 4 - 0.5;
                inside += px * px + py * py <= radius * radius;
            }
            if (inside) {
                kernel.push_back(inside / 16.0f);
                offsets.push_back(QPoint(dx, dy));
                total += inside / 16.0;
            }
        }
    }
    std::vector<float> out(in.size());
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            double sum = 0;
            for (size_t k = 0; k < kernel.size(); ++k) {
                const int sx = std::clamp(x + offsets[k].x(), 0, W - 1);
                const int sy = std::clamp(y + offsets[k].y(), 0, H - 1);
                sum += kernel[k] * in[size_t(sy) * W + sx];
            }
            out[size_t(y) * W + x] = float(sum / total);
        }
    }
    return out;
}

double angleOf(QPointF p, QPointF centre)
{
    const double a = std::atan2(p.y() - centre.y(), p.x() - centre.x());
    return a < 0 ? a + 2 * pi : a;
}

const Arc &arcAt(const QList<Arc> &arcs, double angle)
{
    for (const Arc &arc : arcs) {
        if (angle >= arc.begin && angle < arc.end)
            return arc;
    }
    return arcs.last();
}

// Strokes along a path as dabs of the given size, centred on the path.
void paintStroke(QList<MarkerDab> &dabs, const QPolygonF &path, bool keep, double size)
{
    for (int i = 0; i + 1 < path.size(); ++i) {
        const QPointF a = path[i], b = path[i + 1];
        const int steps = std::max(1, int(std::hypot(b.x() - a.x(), b.y() - a.y()) / (size / 3)));
        for (int s = 0; s < steps; ++s) {
            const QPointF p = a + (b - a) * (double(s) / steps);
            dabs.append({keep, QRectF(p - QPointF(size / 2, size / 2), QSizeF(size, size))});
        }
    }
}

Case makeCase(int index, const QStringList &photos, const QString &folder)
{
    Random random(20261207u + 7919u * quint32(index));
    Case c;
    const double megapixels = random.uniform(0.5, 1.0);
    const double aspect = random.uniform(1.2, 1.6);
    c.H = int(std::sqrt(megapixels * 1e6 / aspect));
    c.W = int(c.H * aspect);
    const int W = c.W, H = c.H;
    const int f = index % photos.size();
    const int b = (index * 5 + 3) % photos.size() == f ? (f + 1) % photos.size() : (index * 5 + 3) % photos.size();
    c.foreground = photoCrop(photos[f], W, H, random);
    c.background = photoCrop(photos[b], W, H, random);
    c.name = QStringLiteral("%1 over %2").arg(QFileInfo(photos[f]).baseName(), QFileInfo(photos[b]).baseName());

    // The blob: a radius wobbling smoothly with the angle.
    c.centre = QPointF(W * random.uniform(0.45, 0.55), H * random.uniform(0.45, 0.55));
    const double base = std::min(W, H) * random.uniform(0.24, 0.3);
    double amplitude[7] = {}, phase[7] = {};
    for (int k = 2; k < 7; ++k) {
        amplitude[k] = random.uniform(0.0, 0.14 / k);
        phase[k] = random.uniform(0, 2 * pi);
    }
    auto radiusAt = [&](double angle) {
        double r = 1.0;
        for (int k = 2; k < 7; ++k)
            r += amplitude[k] * std::cos(k * angle + phase[k]);
        return base * r;
    };
    auto pointAt = [&](double angle, double scale) {
        const double r = radiusAt(angle) * scale;
        return c.centre + QPointF(std::cos(angle), std::sin(angle)) * r;
    };

    // Arcs of the three kinds in turn, from a random start.
    const int arcCount = 6 + random.below(4);
    const int firstKind = random.below(KindCount);
    double start = 0;
    for (int i = 0; i < arcCount; ++i) {
        const double end = i + 1 == arcCount ? 2 * pi : start + 2 * pi / arcCount * random.uniform(0.7, 1.3);
        c.arcs.append({start, end, EdgeKind((firstKind + i) % KindCount), random.uniform(1.0, 3.0)});
        start = end;
    }

    // The body, supersampled.
    QImage layer(W * superSampling, H * superSampling, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPolygonF outline;
    for (int i = 0; i < 2048; ++i)
        outline << pointAt(2 * pi * i / 2048, 1.0) * superSampling;
    {
        QPainter painter(&layer);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawPolygon(outline);
    }
    const std::vector<float> sharp = downsample(layer, W, H);

    // Strands rooted a little inside the outline of the hair arcs.
    layer.fill(Qt::transparent);
    {
        QPainter painter(&layer);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::NoBrush);
        for (const Arc &arc : c.arcs) {
            if (arc.kind != Hair)
                continue;
            const double length = (arc.end - arc.begin) * base;
            const int strands = int(length * 0.8);
            for (int s = 0; s < strands; ++s) {
                const double angle = random.uniform(arc.begin, arc.end);
                const QPointF onOutline = pointAt(angle, 1.0);
                const QPointF tangent = pointAt(angle + 1e-3, 1.0) - pointAt(angle - 1e-3, 1.0);
                QPointF normal(tangent.y(), -tangent.x());
                normal /= std::hypot(normal.x(), normal.y());
                if (QPointF::dotProduct(normal, onOutline - c.centre) < 0)
                    normal = -normal;
                const double turn = random.uniform(-0.6, 0.6);
                const QPointF direction = normal * std::cos(turn) + QPointF(-normal.y(), normal.x()) * std::sin(turn);
                const double strandLength = random.uniform(8, 45);
                const QPointF root = onOutline - normal * random.uniform(0, 4);
                const QPointF tip = root + direction * strandLength
                                    + QPointF(-direction.y(), direction.x()) * random.uniform(-0.3, 0.3) * strandLength;
                const QPointF control = root + direction * (strandLength * 0.5)
                                        + QPointF(-direction.y(), direction.x()) * random.uniform(-0.35, 0.35) * strandLength;
                QPainterPath path(root * superSampling);
                path.quadTo(control * superSampling, tip * superSampling);
                QPen pen(QColor(255, 255, 255, int(255 * random.uniform(0.35, 1.0))));
                pen.setWidthF(random.uniform(0.5, 2.0) * superSampling);
                pen.setCapStyle(Qt::RoundCap);
                painter.setPen(pen);
                painter.drawPath(path);
            }
        }
    }
    const std::vector<float> strands = downsample(layer, W, H);
    layer = QImage();

    QMap<double, std::vector<float>> blurred;
    for (const Arc &arc : c.arcs) {
        if (arc.kind == Blur && !blurred.contains(arc.blurRadius))
            blurred.insert(arc.blurRadius, discBlur(sharp, W, H, arc.blurRadius));
    }

    c.alpha.resize(size_t(W) * H);
    c.kindOf.resize(size_t(W) * H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * W + x;
            const Arc &arc = arcAt(c.arcs, angleOf(QPointF(x + 0.5, y + 0.5), c.centre));
            c.kindOf[i] = arc.kind;
            const float body = arc.kind == Blur ? blurred[arc.blurRadius][i] : sharp[i];
            c.alpha[i] = body + strands[i] * (1 - body);
        }
    }

    // Pixels near a fractional truth: where the edge is.
    c.edgeBand.assign(size_t(W) * H, 0);
    constexpr int bandReach = 6;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const float a = c.alpha[size_t(y) * W + x];
            if (a <= 0.002f || a >= 0.998f)
                continue;
            for (int dy = -bandReach; dy <= bandReach; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= H)
                    continue;
                std::fill_n(&c.edgeBand[size_t(yy) * W + std::max(0, x - bandReach)],
                            std::min(W - 1, x + bandReach) - std::max(0, x - bandReach) + 1, quint8(1));
            }
        }
    }

    QImage composite(W, H, QImage::Format_ARGB32);
    for (int y = 0; y < H; ++y) {
        const QRgb *fg = reinterpret_cast<const QRgb *>(c.foreground.constScanLine(y));
        const QRgb *bg = reinterpret_cast<const QRgb *>(c.background.constScanLine(y));
        QRgb *out = reinterpret_cast<QRgb *>(composite.scanLine(y));
        for (int x = 0; x < W; ++x) {
            const float a = c.alpha[size_t(y) * W + x];
            auto mix = [a](int f, int b) { return int(std::lround(a * f + (1 - a) * b)); };
            out[x] = qRgb(mix(qRed(fg[x]), qRed(bg[x])), mix(qGreen(fg[x]), qGreen(bg[x])),
                          mix(qBlue(fg[x]), qBlue(bg[x])));
        }
    }
    c.path = QDir(folder).filePath(QStringLiteral("case%1.png").arg(index));
    composite.save(c.path, "PNG");

    // Strokes as a user paints them: keep inside the solid core, remove well outside the
    // longest strands, and across the far background.
    QPolygonF inner, outer, cross1, cross2;
    for (int i = 0; i <= 48; ++i) {
        inner << pointAt(2 * pi * i / 48, 0.55);
        const double angle = 2 * pi * i / 48;
        outer << c.centre + QPointF(std::cos(angle), std::sin(angle)) * (radiusAt(angle) + 70);
    }
    cross1 << pointAt(0.3, 0.6) << pointAt(0.3 + pi, 0.6);
    cross2 << pointAt(1.9, 0.6) << pointAt(1.9 + pi, 0.6);
    paintStroke(c.drawingOrder, inner, true, 14);
    paintStroke(c.drawingOrder, cross1, true, 12);
    paintStroke(c.drawingOrder, cross2, true, 12);
    paintStroke(c.drawingOrder, outer, false, 18);
    QPolygonF frame;
    frame << QPointF(15, 15) << QPointF(W - 15, 15) << QPointF(W - 15, H - 15) << QPointF(15, H - 15) << QPointF(15, 15);
    paintStroke(c.drawingOrder, frame, false, 18);

    for (const Arc &arc : c.arcs) {
        if (arc.kind == Hair) {
            const QPoint middle = pointAt((arc.begin + arc.end) / 2, 1.0).toPoint();
            c.shotRect = QRect(middle - QPoint(110, 80), QSize(220, 160)).intersected(QRect(0, 0, W, H));
            break;
        }
    }
    return c;
}

struct Scores
{
    double sad = 0;                 // /1000
    double mse = 0;                 // over the whole picture
    double bandSad[KindCount] = {}; // /1000
    double ms = 0;                  // the method alone
    double overColour = 0;          // mean 8-bit error of the cut-out over a new colour, edge band
};

const QRgb newBackground = qRgb(40, 90, 200);

// The cut-out laid over a colour against the truth laid over it, in the edge band: this
// counts the colours that the old background leaves in the soft pixels as well as alpha.
double overColourError(const Case &c, const QImage &cutout)
{
    double sum = 0;
    qint64 count = 0;
    const double back[3] = {double(qRed(newBackground)), double(qGreen(newBackground)), double(qBlue(newBackground))};
    for (int y = 0; y < c.H; ++y) {
        const QRgb *fg = reinterpret_cast<const QRgb *>(c.foreground.constScanLine(y));
        const QRgb *cut = reinterpret_cast<const QRgb *>(cutout.constScanLine(y));
        for (int x = 0; x < c.W; ++x) {
            const size_t i = size_t(y) * c.W + x;
            if (!c.edgeBand[i])
                continue;
            const double t = c.alpha[i], a = qAlpha(cut[x]) / 255.0;
            const double truth[3] = {double(qRed(fg[x])), double(qGreen(fg[x])), double(qBlue(fg[x]))};
            const double mine[3] = {double(qRed(cut[x])), double(qGreen(cut[x])), double(qBlue(cut[x]))};
            for (int k = 0; k < 3; ++k)
                sum += std::abs((t * truth[k] + (1 - t) * back[k]) - (a * mine[k] + (1 - a) * back[k]));
            count += 3;
        }
    }
    return count ? sum / count : 0;
}

// The photo's colours with the given alpha.
QImage cutoutOf(const QImage &photo, const std::vector<float> &alpha)
{
    QImage cutout(photo.size(), QImage::Format_ARGB32);
    for (int y = 0; y < photo.height(); ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
        QRgb *out = reinterpret_cast<QRgb *>(cutout.scanLine(y));
        for (int x = 0; x < photo.width(); ++x)
            out[x] = (in[x] & 0xFFFFFFu) | (quint32(std::lround(255 * alpha[size_t(y) * photo.width() + x])) << 24);
    }
    return cutout;
}

Scores score(const Case &c, const std::vector<float> &alpha)
{
    Scores s;
    double squares = 0;
    for (size_t i = 0; i < alpha.size(); ++i) {
        const double d = std::abs(alpha[i] - c.alpha[i]);
        s.sad += d;
        squares += d * d;
        if (c.edgeBand[i])
            s.bandSad[c.kindOf[i]] += d;
    }
    s.sad /= 1000;
    s.mse = squares / alpha.size();
    for (double &band : s.bandSad)
        band /= 1000;
    return s;
}

struct Decision
{
    QImage photo;
    QList<qint32> keepPixels;
};

// decode, analysis and isolation, as peltrix-cut runs them.
Decision decide(const Case &c)
{
    Decision d;
    d.photo = readPicture(c.path);
    CColorClusters clusters;
    QImage labelMap;
    analysePicture(d.photo, clusters, labelMap);
    MarkerSet markers;
    markers.newestFirst = placeDabs(c.drawingOrder, d.photo.size());
    d.keepPixels = isolateKeepPixels(labelMap, markers, clusters.centers());
    return d;
}

#ifdef PELTRIX_HAVE_OPENCV_CONTRIB
cv::Mat bgrOf(const QImage &photo)
{
    cv::Mat bgr(photo.height(), photo.width(), CV_8UC3);
    for (int y = 0; y < photo.height(); ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
        uchar *out = bgr.ptr(y);
        for (int x = 0; x < photo.width(); ++x) {
            out[3 * x] = uchar(qBlue(in[x]));
            out[3 * x + 1] = uchar(qGreen(in[x]));
            out[3 * x + 2] = uchar(qRed(in[x]));
        }
    }
    return bgr;
}

cv::Mat decisionMask(const QList<qint32> &keepPixels, int W, int H)
{
    cv::Mat mask(H, W, CV_8UC1, cv::Scalar(0));
    for (const qint32 v : keepPixels)
        mask.data[v] = 255;
    return mask;
}

std::vector<float> alphaOfMat(const cv::Mat &m)
{
    std::vector<float> alpha(size_t(m.rows) * m.cols);
    for (int y = 0; y < m.rows; ++y) {
        for (int x = 0; x < m.cols; ++x) {
            const float v = m.type() == CV_8UC1 ? m.at<uchar>(y, x) / 255.0f : m.at<float>(y, x);
            alpha[size_t(y) * m.cols + x] = std::clamp(v, 0.0f, 1.0f);
        }
    }
    return alpha;
}

// Unknown within `inside` pixels of the decision's outline inside it and `outside` outside.
cv::Mat trimapOf(const cv::Mat &mask, int inside, int outside)
{
    cv::Mat toOutside, toInside, inverse;
    cv::distanceTransform(mask, toOutside, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    cv::bitwise_not(mask, inverse);
    cv::distanceTransform(inverse, toInside, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    cv::Mat trimap(mask.size(), CV_8UC1);
    for (int y = 0; y < mask.rows; ++y) {
        for (int x = 0; x < mask.cols; ++x) {
            const bool keep = mask.at<uchar>(y, x) != 0;
            const float d = keep ? toOutside.at<float>(y, x) : toInside.at<float>(y, x);
            trimap.at<uchar>(y, x) = d <= (keep ? inside : outside) ? 128 : keep ? 255 : 0;
        }
    }
    return trimap;
}
#endif

enum Method { None, Gaussian, Refined, InfoFlow, Guided, InfoFlowOnBand, MethodCount };
const char *const methodNames[MethodCount] = {"no smoothing", "Gaussian", "refined", "infoFlow", "guided filter",
                                              "infoFlow 15/30"};

// This process's CPU time over all threads: steadier than the wall clock on a busy machine.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double medianOf(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

// The Gaussian and the refined cut-out over a colour, and the truth, side by side, magnified.
void saveShot(const Case &c, const Decision &d, const RefinedCutout &refined, const QString &path)
{
    const QRect r = c.shotRect;
    const QRgb colour = qRgb(40, 90, 200);
    const QImage gaussian = buildCutout(d.photo, smoothedMatte(d.keepPixels, c.W, c.H, true, 5));
    QImage truthImage(c.W, c.H, QImage::Format_ARGB32);
    for (int y = 0; y < c.H; ++y) {
        const QRgb *fg = reinterpret_cast<const QRgb *>(c.foreground.constScanLine(y));
        QRgb *out = reinterpret_cast<QRgb *>(truthImage.scanLine(y));
        for (int x = 0; x < c.W; ++x)
            out[x] = (fg[x] & 0xFFFFFFu) | (quint32(std::lround(255 * c.alpha[size_t(y) * c.W + x])) << 24);
    }
    const QImage truth = truthImage;
    constexpr int zoom = 2, gap = 6;
    QImage sheet(3 * r.width() * zoom + 2 * gap, r.height() * zoom, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int x = 0;
    for (const QImage *cutout : {&gaussian, &refined.cutout, &truth}) {
        QImage panel(r.size(), QImage::Format_ARGB32);
        fillAndComposeOver(panel, colour, cutout->copy(r), QPoint(0, 0));
        painter.drawImage(QRect(x, 0, r.width() * zoom, r.height() * zoom), panel);
        x += r.width() * zoom + gap;
    }
    painter.end();
    sheet.save(path);
    std::printf("saved %s: Gaussian | refined | truth, over rgb(40, 90, 200), %dx%d at (%d, %d) of %s, x%d\n",
                qPrintable(path), r.width(), r.height(), r.x(), r.y(), qPrintable(c.name), zoom);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    int caseCount = 6, runs = 3;
    bool openCv = true, stages = false, infoFlowOnBand = false;
    QString shotPath, keepFolder;
    bool alphaMatting = false;
    AlphaMattingOptions matting;
    matting.dataFolder = QStringLiteral(PELTRIX_SOURCE_DIR "/../shared/data");
    bool runsGiven = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--cases" && i + 1 < args.size())
            caseCount = args[++i].toInt();
        else if (args[i] == "--runs" && i + 1 < args.size()) {
            runs = std::max(1, args[++i].toInt());
            runsGiven = true;
        } else if (args[i] == "--alphamatting")
            alphaMatting = true;
        else if (args[i] == "--data" && i + 1 < args.size())
            matting.dataFolder = args[++i];
        else if (args[i] == "--only" && i + 1 < args.size())
            matting.only = args[++i];
        else if (args[i] == "--threads" && i + 1 < args.size())
            Parallel::setThreadCount(args[++i].toInt());
        else if (args[i] == "--stages")
            stages = true;
        else if (args[i] == "--infoflow-band")
            infoFlowOnBand = true;
        else if (args[i] == "--no-opencv")
            openCv = false;
        else if (args[i] == "--shot" && i + 1 < args.size())
            shotPath = args[++i];
        else if (args[i] == "--keep" && i + 1 < args.size())
            keepFolder = args[++i];
        else {
            std::fprintf(stderr, "usage: bench_refine [--cases N] [--runs N] [--threads N] [--stages] [--no-opencv]\n"
                                 "                    [--infoflow-band] [--shot FILE.png] [--keep DIR]\n"
                                 "       bench_refine --alphamatting [--data DIR] [--only NAME] [--runs N]\n"
                                 "                    [--threads N] [--stages] [--no-opencv]\n");
            return 2;
        }
    }
#ifndef PELTRIX_HAVE_OPENCV_CONTRIB
    openCv = false;
#endif
    if (alphaMatting) {
        matting.openCv = openCv;
        matting.runs = runsGiven ? runs : 1;
        matting.stages = stages;
        return runAlphaMatting(matting);
    }

    QStringList photos;
    for (const char *name : {"LadyBird", "Garden", "Wood", "YellowFlower", "Aqua", "GreenMeadow", "FreshFlower", "Storm"})
        photos << QStringLiteral("/usr/share/backgrounds/mate/nature/%1.jpg").arg(QLatin1String(name));
    for (const QString &photo : photos) {
        if (!QFileInfo::exists(photo)) {
            std::printf("missing %s (Debian's mate-backgrounds)\n", qPrintable(photo));
            return 1;
        }
    }
    QTemporaryDir temporary;
    const QString folder = keepFolder.isEmpty() ? temporary.path() : keepFolder;
    QDir().mkpath(folder);

    std::printf("%d composites (0.5-1 MP each), real pipeline from painted strokes; %d threads; "
                "times are medians of %d runs\n\n", caseCount, Parallel::threadCount(), runs);
    std::printf("SAD: sum |alpha - truth| / 1000; MSE over the picture; hair, blur, sharp: SAD in the edge band\n"
                "by the kind of edge; over: mean 8-bit error of the cut-out over rgb(40, 90, 200) in the edge band\n\n");
    std::printf("%-26s %-13s %8s %9s %7s %7s %7s %6s %9s\n", "case", "method", "SAD", "MSE*1e3", "hair", "blur", "sharp", "over", "ms");
    std::fflush(stdout);

    Scores totals[MethodCount];
    int counted[MethodCount] = {};
    double photoColours = 0; // the refined alpha with the photo's colours
    double plainCpuTotal = 0, refinedCpuTotal = 0;
    double plainRunTotal = 0, refinedRunTotal = 0, megapixels = 0;
    for (int index = 0; index < caseCount; ++index) {
        const Case c = makeCase(index, photos, folder);
        megapixels += c.W * double(c.H) / 1e6;
        const Decision d = decide(c);
        const int W = c.W, H = c.H;
        if (!keepFolder.isEmpty())
            buildMatte(d.keepPixels, W, H).save(QDir(folder).filePath(QStringLiteral("case%1-decision.png").arg(index)));

        // Whole runs: decode, analysis, isolation, then matte and cut-out either way.
        QList<double> plainRuns, refinedRuns, plainCpu, refinedCpu;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            double cpu = cpuMs();
            {
                const Decision again = decide(c);
                const QImage cutout = buildCutout(again.photo, smoothedMatte(again.keepPixels, W, H, true, 5));
            }
            plainRuns << timer.nsecsElapsed() / 1e6;
            plainCpu << cpuMs() - cpu;
            timer.restart();
            cpu = cpuMs();
            {
                const Decision again = decide(c);
                const RefinedCutout refined = refineEdges(again.photo, again.keepPixels);
            }
            refinedRuns << timer.nsecsElapsed() / 1e6;
            refinedCpu << cpuMs() - cpu;
        }
        const double plainRun = medianOf(plainRuns), refinedRun = medianOf(refinedRuns);
        plainRunTotal += plainRun;
        refinedRunTotal += refinedRun;
        plainCpuTotal += medianOf(plainCpu);
        refinedCpuTotal += medianOf(refinedCpu);

        Scores s[MethodCount];
        bool have[MethodCount] = {true, true, true, openCv, openCv, openCv && infoFlowOnBand};
        QList<double> t;
        QImage matte;
        t.clear();
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            matte = buildMatte(d.keepPixels, W, H);
            t << timer.nsecsElapsed() / 1e6;
        }
        s[None] = score(c, alphaOfMatte(matte));
        s[None].overColour = overColourError(c, buildCutout(d.photo, matte));
        s[None].ms = medianOf(t);
        t.clear();
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            matte = smoothedMatte(d.keepPixels, W, H, true, 5);
            t << timer.nsecsElapsed() / 1e6;
        }
        s[Gaussian] = score(c, alphaOfMatte(matte));
        s[Gaussian].overColour = overColourError(c, buildCutout(d.photo, matte));
        s[Gaussian].ms = medianOf(t);
        t.clear();
        RefinedCutout refined;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            refined = refineEdges(d.photo, d.keepPixels);
            t << timer.nsecsElapsed() / 1e6;
        }
        if (stages) {
            QMap<QString, double> stageMs;
            refineEdges(d.photo, d.keepPixels, {}, [&](const char *stage, qint64 ns) {
                stageMs[QString::fromLatin1(stage)] += ns / 1e6;
            });
            std::printf("%-26s refinement stages:", "");
            for (auto it = stageMs.cbegin(); it != stageMs.cend(); ++it)
                std::printf(" %s %.1f ms", qPrintable(it.key()), it.value());
            std::printf("\n");
        }
        s[Refined] = score(c, alphaOfMatte(refined.matte));
        s[Refined].overColour = overColourError(c, refined.cutout);
        photoColours += overColourError(c, buildCutout(d.photo, refined.matte));
        s[Refined].ms = medianOf(t);
#ifdef PELTRIX_HAVE_OPENCV_CONTRIB
        if (openCv) {
            const cv::Mat bgr = bgrOf(d.photo);
            const cv::Mat mask = decisionMask(d.keepPixels, W, H);
            QElapsedTimer timer;
            timer.start();
            cv::Mat flow;
            cv::alphamat::infoFlow(bgr, trimapOf(mask, 20, 20), flow);
            s[InfoFlow] = score(c, alphaOfMat(flow));
            s[InfoFlow].overColour = overColourError(c, cutoutOf(d.photo, alphaOfMat(flow)));
            s[InfoFlow].ms = timer.nsecsElapsed() / 1e6; // once: it takes seconds
            t.clear();
            cv::Mat guided;
            for (int run = 0; run < runs; ++run) {
                timer.restart();
                cv::Mat guide, source;
                bgr.convertTo(guide, CV_32FC3, 1 / 255.0);
                mask.convertTo(source, CV_32FC1, 1 / 255.0);
                cv::ximgproc::guidedFilter(guide, source, guided, 8, 0.01);
                t << timer.nsecsElapsed() / 1e6;
            }
            if (infoFlowOnBand) {
                // The same band as the refinement's, to tell the method from the band.
                cv::Mat onBand;
                timer.restart();
                cv::alphamat::infoFlow(bgr, trimapOf(mask, refineBandInside, refineBandOutside), onBand);
                s[InfoFlowOnBand] = score(c, alphaOfMat(onBand));
                s[InfoFlowOnBand].ms = timer.nsecsElapsed() / 1e6;
                s[InfoFlowOnBand].overColour = overColourError(c, cutoutOf(d.photo, alphaOfMat(onBand)));
            }
            s[Guided] = score(c, alphaOfMat(guided));
            s[Guided].overColour = overColourError(c, cutoutOf(d.photo, alphaOfMat(guided)));
            s[Guided].ms = medianOf(t);
        }
#endif
        for (int m = 0; m < MethodCount; ++m) {
            if (!have[m])
                continue;
            std::printf("%-26s %-13s %8.2f %9.3f %7.2f %7.2f %7.2f %6.2f %9.1f\n", m == 0 ? qPrintable(c.name) : "",
                        methodNames[m], s[m].sad, s[m].mse * 1e3, s[m].bandSad[Hair], s[m].bandSad[Blur],
                        s[m].bandSad[Sharp], s[m].overColour, s[m].ms);
            totals[m].overColour += s[m].overColour;
            totals[m].sad += s[m].sad;
            totals[m].mse += s[m].mse;
            for (int k = 0; k < KindCount; ++k)
                totals[m].bandSad[k] += s[m].bandSad[k];
            totals[m].ms += s[m].ms;
            ++counted[m];
        }
        std::printf("%-26s %dx%d, whole run: plain %.1f ms, refined %.1f ms (x%.2f); CPU x%.2f\n", "", W, H, plainRun,
                    refinedRun, refinedRun / plainRun, medianOf(refinedCpu) / medianOf(plainCpu));
        if (index == 0 && !shotPath.isEmpty())
            saveShot(c, d, refined, shotPath);
        std::fflush(stdout);
    }

    std::printf("\nmean over %d cases (%.1f MP):\n", caseCount, megapixels);
    std::printf("%-13s %8s %9s %7s %7s %7s %8s %6s %9s\n", "method", "SAD", "MSE*1e3", "hair", "blur", "sharp", "band", "over", "ms");
    for (int m = 0; m < MethodCount; ++m) {
        if (!counted[m])
            continue;
        const double n = counted[m];
        const double band = (totals[m].bandSad[Hair] + totals[m].bandSad[Blur] + totals[m].bandSad[Sharp]) / n;
        std::printf("%-13s %8.2f %9.3f %7.2f %7.2f %7.2f %8.2f %6.2f %9.1f\n", methodNames[m], totals[m].sad / n,
                    totals[m].mse / n * 1e3, totals[m].bandSad[Hair] / n, totals[m].bandSad[Blur] / n,
                    totals[m].bandSad[Sharp] / n, band, totals[m].overColour / n, totals[m].ms / n);
    }
    std::printf("(the refined alpha with the photo's own colours: over %.2f)\n", photoColours / caseCount);
    std::printf("\nwhole runs (decode, analysis, isolation, matte, cut-out), summed: plain %.0f ms, "
                "refined %.0f ms: x%.2f (target <= 3)\n", plainRunTotal, refinedRunTotal, refinedRunTotal / plainRunTotal);
    std::printf("the same in CPU time over all threads: plain %.0f ms, refined %.0f ms: x%.2f\n", plainCpuTotal,
                refinedCpuTotal, refinedCpuTotal / plainCpuTotal);
    if (counted[InfoFlow])
        std::printf("mean SAD refined %.2f vs infoFlow %.2f (target <=)\n", totals[Refined].sad / counted[Refined],
                    totals[InfoFlow].sad / counted[InfoFlow]);
    return 0;
}
