#include "isolation/maxflow.h"

#include <algorithm>
#include <limits>

MaxFlow::MaxFlow(int nodeCount)
    : nodes(size_t(std::max(nodeCount, 0)))
    , arcs(nodes.size() * maxDegree)
{
}

void MaxFlow::addTerminal(int node, Capacity fromSource, Capacity toSink)
{
    // Only the difference stays in the graph; the common part is flow already.
    Node &n = nodes[size_t(node)];
    n.terminal += qint64(fromSource) - toSink;
    n.given += qint64(fromSource) - toSink;
    flow += std::min(fromSource, toSink);
}

void MaxFlow::setTerminal(int node, Capacity fromSource, Capacity toSink)
{
    // Raising both capacities by one amount moves no cut, so only the difference counts.
    Node &n = nodes[size_t(node)];
    const qint64 given = qint64(fromSource) - toSink;
    n.terminal += given - n.given;
    n.given = given;
}

void MaxFlow::addEdge(int a, int b, Capacity ab, Capacity ba)
{
    Q_ASSERT(nodes[size_t(a)].degree < maxDegree && nodes[size_t(b)].degree < maxDegree);
    const qint32 forward = firstArc(a) + nodes[size_t(a)].degree++;
    const qint32 backward = firstArc(b) + nodes[size_t(b)].degree++;
    arcs[size_t(forward)] = {b, backward, ab};
    arcs[size_t(backward)] = {a, forward, ba};
}

void MaxFlow::activate(qint32 node)
{
    Node &n = nodes[size_t(node)];
    if (n.nextActive != NotQueued)
        return;
    n.nextActive = node; // the last points at itself
    if (activeLast >= 0)
        nodes[size_t(activeLast)].nextActive = node;
    else
        activeFirst = node;
    activeLast = node;
}

// The oldest queued node that still belongs to a tree.
qint32 MaxFlow::nextActiveNode()
{
    while (activeFirst >= 0) {
        const qint32 node = activeFirst;
        Node &n = nodes[size_t(node)];
        activeFirst = n.nextActive == node ? -1 : n.nextActive;
        if (activeFirst < 0)
            activeLast = -1;
        n.nextActive = NotQueued;
        if (n.parent != None)
            return node;
    }
    return -1;
}

void MaxFlow::makeOrphan(qint32 node)
{
    nodes[size_t(node)].parent = Orphan;
    orphans.push_back(node);
}

// Pushes the bottleneck along source tree -> joinArc -> sink tree.
void MaxFlow::augment(qint32 joinArc)
{
    const qint32 sourceSide = arcs[size_t(sister(joinArc))].head;
    const qint32 sinkSide = arcs[size_t(joinArc)].head;

    qint64 bottleneck = arcs[size_t(joinArc)].residual;
    for (qint32 x = sourceSide;;) {
        const qint32 p = nodes[size_t(x)].parent;
        if (p == Terminal) {
            bottleneck = std::min(bottleneck, nodes[size_t(x)].terminal);
            break;
        }
        bottleneck = std::min<qint64>(bottleneck, arcs[size_t(sister(p))].residual);
        x = arcs[size_t(p)].head;
    }
    for (qint32 x = sinkSide;;) {
        const qint32 p = nodes[size_t(x)].parent;
        if (p == Terminal) {
            bottleneck = std::min(bottleneck, -nodes[size_t(x)].terminal);
            break;
        }
        bottleneck = std::min<qint64>(bottleneck, arcs[size_t(p)].residual);
        x = arcs[size_t(p)].head;
    }

    const Capacity pushed = Capacity(bottleneck);
    arcs[size_t(joinArc)].residual -= pushed;
    arcs[size_t(sister(joinArc))].residual += pushed;
    for (qint32 x = sourceSide;;) {
        const qint32 p = nodes[size_t(x)].parent;
        if (p == Terminal) {
            nodes[size_t(x)].terminal -= pushed;
            if (nodes[size_t(x)].terminal == 0)
                makeOrphan(x);
            break;
        }
        const qint32 next = arcs[size_t(p)].head;
        arcs[size_t(p)].residual += pushed;
        arcs[size_t(sister(p))].residual -= pushed;
        if (arcs[size_t(sister(p))].residual == 0)
            makeOrphan(x);
        x = next;
    }
    for (qint32 x = sinkSide;;) {
        const qint32 p = nodes[size_t(x)].parent;
        if (p == Terminal) {
            nodes[size_t(x)].terminal += pushed;
            if (nodes[size_t(x)].terminal == 0)
                makeOrphan(x);
            break;
        }
        const qint32 next = arcs[size_t(p)].head;
        arcs[size_t(sister(p))].residual += pushed;
        arcs[size_t(p)].residual -= pushed;
        if (arcs[size_t(p)].residual == 0)
            makeOrphan(x);
        x = next;
    }
    flow += pushed;
}

// Finds the orphan a parent in its own tree that still leads to the terminal, the nearest
// one; without one the orphan leaves its tree and its children become orphans.
void MaxFlow::adopt(qint32 orphan)
{
    Node &o = nodes[size_t(orphan)];
    const bool sinkTree = o.sinkTree;
    qint32 bestArc = None;
    qint32 bestDistance = std::numeric_limits<qint32>::max();
    for (qint32 a = firstArc(orphan), end = endArc(orphan); a < end; ++a) {
        // Flow runs from the parent to the child in the source tree, the other way in the sink tree.
        const Capacity capacity = sinkTree ? arcs[size_t(a)].residual : arcs[size_t(sister(a))].residual;
        if (capacity == 0)
            continue;
        const qint32 j = arcs[size_t(a)].head;
        if (nodes[size_t(j)].sinkTree != sinkTree || nodes[size_t(j)].parent == None)
            continue;
        // Walk up to the terminal, or to a node already measured in this round.
        qint32 distance = 0;
        bool valid = false;
        for (qint32 k = j;;) {
            Node &n = nodes[size_t(k)];
            if (n.timestamp == time) {
                distance += n.distance;
                valid = true;
                break;
            }
            const qint32 p = n.parent;
            ++distance;
            if (p == Terminal) {
                n.timestamp = time;
                n.distance = 1;
                valid = true;
                break;
            }
            if (p == Orphan)
                break;
            k = arcs[size_t(p)].head;
        }
        if (!valid)
            continue;
        if (distance < bestDistance) {
            bestArc = a;
            bestDistance = distance;
        }
        // Record the distances along the path for the next walks.
        for (qint32 k = j; nodes[size_t(k)].timestamp != time; k = arcs[size_t(nodes[size_t(k)].parent)].head) {
            nodes[size_t(k)].timestamp = time;
            nodes[size_t(k)].distance = distance--;
        }
    }

    if (bestArc != None) {
        o.parent = bestArc;
        o.timestamp = time;
        o.distance = bestDistance + 1;
        return;
    }

    o.parent = None;
    for (qint32 a = firstArc(orphan), end = endArc(orphan); a < end; ++a) {
        const qint32 j = arcs[size_t(a)].head;
        Node &n = nodes[size_t(j)];
        if (n.sinkTree != sinkTree || n.parent == None)
            continue;
        const Capacity capacity = sinkTree ? arcs[size_t(a)].residual : arcs[size_t(sister(a))].residual;
        if (capacity > 0)
            activate(j);
        if (n.parent != Terminal && n.parent != Orphan && arcs[size_t(n.parent)].head == orphan)
            makeOrphan(j);
    }
}

qint64 MaxFlow::solve()
{
    activeFirst = activeLast = -1;
    for (qint32 i = 0; i < qint32(nodes.size()); ++i) {
        Node &n = nodes[size_t(i)];
        n.nextActive = NotQueued;
        n.timestamp = 0;
        if (n.terminal != 0) {
            n.sinkTree = n.terminal < 0;
            n.parent = Terminal;
            n.distance = 1;
            activate(i);
        } else {
            n.parent = None;
        }
    }
    time = 0;

    qint32 current = -1;
    for (;;) {
        qint32 i = current;
        if (i >= 0 && nodes[size_t(i)].parent == None)
            i = -1;
        if (i < 0) {
            i = nextActiveNode();
            if (i < 0)
                break;
        }
        current = -1;

        // Growth: the tree of i takes free neighbours until it touches the other tree.
        qint32 joinArc = None;
        Node &ni = nodes[size_t(i)];
        for (qint32 a = firstArc(i), end = endArc(i); a < end; ++a) {
            const Capacity capacity = ni.sinkTree ? arcs[size_t(sister(a))].residual : arcs[size_t(a)].residual;
            if (capacity == 0)
                continue;
            const qint32 j = arcs[size_t(a)].head;
            Node &nj = nodes[size_t(j)];
            if (nj.parent == None) {
                nj.sinkTree = ni.sinkTree;
                nj.parent = sister(a);
                nj.timestamp = ni.timestamp;
                nj.distance = ni.distance + 1;
                activate(j);
            } else if (nj.sinkTree != ni.sinkTree) {
                joinArc = ni.sinkTree ? sister(a) : a;
                break;
            } else if (nj.timestamp <= ni.timestamp && nj.distance > ni.distance) {
                // A shorter way to the terminal through i.
                nj.parent = sister(a);
                nj.timestamp = ni.timestamp;
                nj.distance = ni.distance + 1;
            }
        }
        if (joinArc == None)
            continue;

        // i may have more paths to give: it is taken up again first.
        current = i;
        ++time;
        augment(joinArc);
        for (size_t k = 0; k < orphans.size(); ++k)
            adopt(orphans[k]);
        orphans.clear();
    }
    return flow;
}
