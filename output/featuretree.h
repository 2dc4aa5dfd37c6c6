#pragma once

#include <QtGlobal>

#include <array>
#include <vector>

// Nearest neighbours among points of a small feature space (colour and position), by a k-d
// tree (J. Bentley, "Multidimensional Binary Search Trees Used for Associative Searching",
// CACM 18(9), 1975) searched with incremental distances to the cells (S. Arya, D. Mount,
// "Algorithms for Fast Vector Quantization", DCC 1993).
//
// Neighbours are ordered by (squared distance, index), so a query has exactly one answer,
// whatever the order in which the tree is walked: queries may run on any threads.
class FeatureTree
{
public:
    static constexpr int dimensions = 5;
    using Point = std::array<float, dimensions>;

    // Keeps a reference to `points`, which must outlive the tree.
    explicit FeatureTree(const std::vector<Point> &points);

    // Up to k (at most `maximumK`) nearest points to `query` other than the point `skip`
    // (-1 for none), nearest first; returns how many were found. With `leaves` above 0 the
    // search stops after that many leaves, the query's own first and then its neighbours in
    // the tree: an approximation whose time no longer depends on how far the query lies
    // from the points (J. Beis, D. Lowe, "Shape Indexing Using Approximate Nearest-Neighbour
    // Search in High-Dimensional Spaces", CVPR 1997, bound the search the same way).
    // Points likely to be near (`seeds`, for example the query's neighbours in the picture)
    // are measured first: they bound the search from the start, which then passes over most
    // of the tree. They change the answer only when the search is approximate.
    static constexpr int maximumK = 32;
    int nearest(const Point &query, int k, qint32 skip, qint32 *indices, int leaves = 0,
                const qint32 *seeds = nullptr, int seedCount = 0) const;

private:
    struct Node
    {
        qint32 begin = 0, end = 0; // the node's points: order[begin, end)
        qint32 low = -1, high = -1; // children, -1 for a leaf
        int axis = 0;
        float split = 0;
    };

    qint32 build(qint32 begin, qint32 end);

    const std::vector<Point> &points;
    std::vector<qint32> order;
    std::vector<Node> nodes;
};
