#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

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
    int initCenters(CLabImage lab, const QList<QPoint> &positions, int K);
    int cluster(CLabImage lab, int K, const ProgressCallback &progress, int start, int end);
    void labelImage(const CLabImage &lab, QImage &labelMap) const;

    // The same clustering and labelling computed once per distinct triple or colour
    // instead of once per pixel; the results are identical to the functions above.
    int initCenters(const LabHistogram &triples, int K);
    int cluster(const LabHistogram &triples, int K, const ProgressCallback &progress, int start,
                int end);
    // Labels a picture straight from its colours, as labelImage(CLabImage(picture), ...).
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
