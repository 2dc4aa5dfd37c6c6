#pragma once

#include <QImage>
#include <QList>

#include <vector>

#include "analysis/labimage.h"
#include "analysis/progress.h"

// The colour-cluster model of the opened picture: K centres in integer L*a*b* and the
// number of analysis-picture pixels each one won in the last clustering iteration.
class CColorClusters
{
public:
    CColorClusters() = default;
    ~CColorClusters();
    CColorClusters(const CColorClusters &) = delete;
    CColorClusters &operator=(const CColorClusters &) = delete;

    QList<QList<qint16>> centers() const;

    // The k-means of the analysis picture, computed once per distinct L*a*b* triple instead
    // of once per pixel, with the same result: farthest-point initial centres from the
    // top-left pixel on, then 20 iterations, ties to the lowest index.
    int initCenters(const LabHistogram &triples, int K);
    int cluster(const LabHistogram &triples, int K, const ProgressCallback &progress, int start,
                int end);
    // Labels every pixel of a picture with its nearest non-empty cluster, once per distinct
    // colour; writes only the first width() bytes of each row of `labelMap`. On every core.
    void labelPicture(const QImage &picture, QImage &labelMap) const;

    qint32 clusterCount = 0;
    qint16 *centerL = nullptr;
    qint16 *centerA = nullptr;
    qint16 *centerB = nullptr;
    qint64 *pixelCounts = nullptr;

private:
    bool isLive(int k) const { return pixelCounts && pixelCounts[k] > 0; }
    void allocateCenters(int K);
    void storeCounts(const std::vector<qint64> &counts);
};
