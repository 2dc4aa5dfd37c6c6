#include "analysis/colorclusters.h"

CColorClusters::~CColorClusters()
{
    delete[] centerL;
    delete[] centerA;
    delete[] centerB;
    delete[] pixelCounts;
}

QList<QList<qint16>> CColorClusters::centers() const
{
    QList<QList<qint16>> result;
    for (int i = 0; i < clusterCount && centerL; ++i)
        result.append({centerL[i], centerA[i], centerB[i]});
    return result;
}
