#include "output/featuretree.h"

#include <algorithm>

namespace {

constexpr int leafSize = 12;

struct Found
{
    float distance;
    qint32 index;

    bool operator<(const Found &other) const
    {
        return distance < other.distance || (distance == other.distance && index < other.index);
    }
};

} // namespace

FeatureTree::FeatureTree(const std::vector<Point> &points) : points(points), order(points.size())
{
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = qint32(i);
    nodes.reserve(2 * points.size() / leafSize + 2);
    if (!points.empty())
        build(0, qint32(points.size()));
}

qint32 FeatureTree::build(qint32 begin, qint32 end)
{
    const qint32 id = qint32(nodes.size());
    nodes.push_back({begin, end, -1, -1, 0, 0});
    if (end - begin <= leafSize)
        return id;
    // Split the widest side at the median; ties by index, so the tree is always the same.
    Point low = points[size_t(order[size_t(begin)])];
    Point high = low;
    for (qint32 i = begin + 1; i < end; ++i) {
        const Point &p = points[size_t(order[size_t(i)])];
        for (int d = 0; d < dimensions; ++d) {
            low[size_t(d)] = std::min(low[size_t(d)], p[size_t(d)]);
            high[size_t(d)] = std::max(high[size_t(d)], p[size_t(d)]);
        }
    }
    int axis = 0;
    for (int d = 1; d < dimensions; ++d) {
        if (high[size_t(d)] - low[size_t(d)] > high[size_t(axis)] - low[size_t(axis)])
            axis = d;
    }
    const qint32 middle = begin + (end - begin) / 2;
    std::nth_element(order.begin() + begin, order.begin() + middle, order.begin() + end, [&](qint32 a, qint32 b) {
        const float u = points[size_t(a)][size_t(axis)], v = points[size_t(b)][size_t(axis)];
        return u < v || (u == v && a < b);
    });
    nodes[size_t(id)].axis = axis;
    nodes[size_t(id)].split = points[size_t(order[size_t(middle)])][size_t(axis)];
    const qint32 low2 = build(begin, middle);
    const qint32 high2 = build(middle, end);
    nodes[size_t(id)].low = low2;
    nodes[size_t(id)].high = high2;
    return id;
}

int FeatureTree::nearest(const Point &query, int k, qint32 skip, qint32 *indices, int leaves, const qint32 *seeds,
                         int seedCount) const
{
    k = std::clamp(k, 0, maximumK);
    if (nodes.empty() || k == 0)
        return 0;
    Found best[maximumK];
    int count = 0;
    const auto consider = [&](qint32 index) {
        if (index == skip)
            return;
        const Point &p = points[size_t(index)];
        float d = 0;
        for (int i = 0; i < dimensions; ++i) {
            const float t = p[size_t(i)] - query[size_t(i)];
            d += t * t;
        }
        const Found f{d, index};
        if (count == k && !(f < best[k - 1]))
            return;
        for (int i = 0; i < count; ++i) {
            if (best[i].index == index)
                return; // a seed met again
        }
        int at = count == k ? k - 1 : count++;
        while (at > 0 && f < best[at - 1]) {
            best[at] = best[at - 1];
            --at;
        }
        best[at] = f;
    };
    // Depth-first, the query's side first, so the first leaves are the query's own and its
    // neighbours'. A far side is entered while its cell may hold a point as near as the
    // current k-th (equal counts: it may win on the index).
    struct Pending
    {
        qint32 node;
        float cellDistance;
        Point offsets;
    };
    for (int i = 0; i < seedCount; ++i)
        consider(seeds[i]);
    Pending stack[80];
    int depth = 0;
    stack[depth++] = {0, 0.0f, {}};
    int visited = 0;
    while (depth > 0) {
        Pending current = stack[--depth];
        if (count == k && current.cellDistance > best[k - 1].distance)
            continue;
        while (nodes[size_t(current.node)].low >= 0) {
            const Node &node = nodes[size_t(current.node)];
            const float difference = query[size_t(node.axis)] - node.split;
            Pending &far = stack[depth++];
            far = current;
            far.node = difference < 0 ? node.high : node.low;
            const float old = current.offsets[size_t(node.axis)];
            far.cellDistance = current.cellDistance - old * old + difference * difference;
            far.offsets[size_t(node.axis)] = difference;
            current.node = difference < 0 ? node.low : node.high;
        }
        const Node &leaf = nodes[size_t(current.node)];
        for (qint32 i = leaf.begin; i < leaf.end; ++i)
            consider(order[size_t(i)]);
        if (leaves > 0 && ++visited >= leaves && count == k)
            break;
    }
    for (int i = 0; i < count; ++i)
        indices[i] = best[i].index;
    return count;
}
