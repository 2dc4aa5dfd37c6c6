#pragma once

#include <QtGlobal>

#include <vector>

// Minimum s-t cut of a graph whose nodes each carry a terminal weight, by the augmenting-path
// algorithm of Boykov and Kolmogorov:
//   Y. Boykov and V. Kolmogorov, "An Experimental Comparison of Min-Cut/Max-Flow Algorithms
//   for Energy Minimization in Vision", IEEE TPAMI 26(9), 2004.
// Two search trees grow from the source and the sink and are kept between augmentations
// (growth, augmentation and adoption stages), which on the short paths of picture grids beats
// restarting a breadth-first search for every path.
//
// Capacities are integers, so the result does not depend on rounding; the same graph built
// in the same order always gives the same cut. Infinite capacities are `infinite`, which no
// sum of finite capacities in this program reaches.
class MaxFlow
{
public:
    using Capacity = qint32;
    static constexpr Capacity infinite = Capacity(1) << 29;

    // Each node may have up to maxDegree edges (8 for the neighbours on a pixel grid).
    static constexpr int maxDegree = 8;

    explicit MaxFlow(int nodeCount);

    int nodeCount() const { return int(nodes.size()); }
    // Adds the capacities from the source to `node` and from `node` to the sink.
    void addTerminal(int node, Capacity fromSource, Capacity toSink);
    // Replaces the node's terminal capacities after a solve(), keeping the flow found so far
    // (P. Kohli and P. Torr, "Efficiently Solving Dynamic Markov Random Fields Using Graph
    // Cuts", ICCV 2005): the next solve() only routes what changed.
    void setTerminal(int node, Capacity fromSource, Capacity toSink);
    // Adds an edge a -> b of capacity `ab` together with b -> a of capacity `ba`; neither node
    // may have maxDegree edges already.
    void addEdge(int a, int b, Capacity ab, Capacity ba);

    // The maximum flow (after setTerminal(), up to a constant); afterwards inSourceSet()
    // tells each node's side of a minimum cut.
    qint64 solve();
    // Whether the node stays connected to the source in the residual graph. Nodes that
    // neither terminal reaches fall to the sink's side.
    bool inSourceSet(int node) const
    {
        const Node &n = nodes[size_t(node)];
        return n.parent != None && !n.sinkTree;
    }

private:
    enum : qint32 { None = -1, Terminal = -2, Orphan = -3, NotQueued = -2 };

    // A node's arcs sit together, maxDegree slots from node * maxDegree, so that a node's
    // neighbourhood is read from one or two cache lines.
    struct Node
    {
        qint32 parent = None;     // the arc towards the parent in its tree, or the above
        qint32 nextActive = NotQueued;
        qint32 timestamp = 0;
        qint32 distance = 0;      // to the terminal, valid at `timestamp`
        qint64 terminal = 0;      // residual: > 0 from the source, < 0 to the sink
        qint64 given = 0;         // the capacities given: from the source less to the sink
        quint8 degree = 0;
        bool sinkTree = false;
    };
    struct Arc
    {
        qint32 head;
        qint32 sister;            // the arc back
        Capacity residual;
    };

    qint32 sister(qint32 arc) const { return arcs[size_t(arc)].sister; }
    static qint32 firstArc(qint32 node) { return node * maxDegree; }
    qint32 endArc(qint32 node) const { return node * maxDegree + nodes[size_t(node)].degree; }
    void activate(qint32 node);
    qint32 nextActiveNode();
    void augment(qint32 joinArc);
    void adopt(qint32 orphan);
    void makeOrphan(qint32 node);

    std::vector<Node> nodes;
    std::vector<Arc> arcs;
    qint64 flow = 0;
    qint32 activeFirst = -1;
    qint32 activeLast = -1;
    std::vector<qint32> orphans;
    qint32 time = 0;
};
