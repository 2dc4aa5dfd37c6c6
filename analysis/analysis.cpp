#include "analysis/analysis.h"

namespace {

const int analysisSide = 512;
const int clusterCountOnOpen = 30;

} // namespace

QImage analysisPicture(const QImage &full)
{
    const int w = full.width();
    const int h = full.height();
    if (qMax(w, h) <= analysisSide)
        return full;
    // Qt's scaledTo* round the other side, which for pictures longer than 1024:1 gives 0.
    if (w > h) {
        if (qRound(double(h) * analysisSide / w) < 1)
            return full.scaled(analysisSide, 1, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        return full.scaledToWidth(analysisSide, Qt::FastTransformation);
    }
    if (qRound(double(w) * analysisSide / h) < 1)
        return full.scaled(1, analysisSide, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return full.scaledToHeight(analysisSide, Qt::FastTransformation);
}

void analysePicture(const QImage &full, CColorClusters &clusters, QImage &labelMap,
                    const AnalysisHooks &hooks)
{
    const auto report = [&](int value) {
        if (hooks.progress)
            hooks.progress(value);
    };
    StageClock clock(hooks.stageTimer);

    const QImage reduced = analysisPicture(full);
    clock.finish("analysis-scale");
    report(10);

    // The clustering needs only the distinct triples of the reduced picture with counts.
    const LabHistogram triples = labHistogram(reduced);
    clock.finish("lab-analysis");
    report(15);

    // The full picture is converted inside the labelling, once per distinct colour.
    report(20);

    if (hooks.processEvents)
        hooks.processEvents();
    clock.restart();

    clusters.cluster(triples, clusterCountOnOpen, hooks.progress, 30, 80);
    clock.finish("cluster");

    QImage map(full.size(), QImage::Format_Indexed8);
    QList<QRgb> greys(256);
    for (int i = 0; i < 256; ++i)
        greys[i] = qRgb(i, i, i);
    map.setColorTable(greys);
    // The fill bytes at the end of each row are never written by the labelling; keep them
    // defined so that equal analyses give equal images.
    const int padding = int(map.bytesPerLine()) - map.width();
    if (padding > 0) {
        for (int y = 0; y < map.height(); ++y)
            memset(map.scanLine(y) + map.width(), 0, size_t(padding));
    }
    clusters.labelPicture(full, map);
    labelMap = map;
    clock.finish("label");
}
