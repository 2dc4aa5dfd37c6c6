#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include "isolation/markerinput.h"
#include "isolation/markers.h"

// Pixels [x0, x1) x [y0, y1) of the picture.
struct PixelSquare
{
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;

    bool isEmpty() const { return x0 >= x1 || y0 >= y1; }
    qint64 area() const { return isEmpty() ? 0 : qint64(x1 - x0) * (y1 - y0); }
};

// The pixels a marker rectangle covers on a W x H picture: the whole n x n square from its
// truncated corner, n its truncated width; empty when it covers none.
PixelSquare clippedMarker(const QRectF &rect, int W, int H);

// The user's keep and remove marks on a W x H picture as squares of pixels (edge dabs are
// neither), read in place instead of rasterised into point lists: the dabs newest first, then the clearly painted pixels of a
// marker picture column by column (each a 1 x 1 square); or two plain point lists. A pixel
// counts once for every square it lies in, as it would appear once per square in the lists.
class MarkSquares
{
public:
    MarkSquares(const MarkerSet &markers, int W, int H);
    MarkSquares(const QList<QPoint> &keepPoints, const QList<QPoint> &removePoints, int W, int H);

    // visit(square) for every square of one kind, in the order in which their points count.
    template<typename Visit>
    void forEachInOrder(bool keep, Visit visit) const
    {
        const MarkerKind wantedDab = keep ? MarkerKind::Keep : MarkerKind::Remove;
        for (const MarkerDab &dab : *dabs) {
            if (dab.kind() != wantedDab)
                continue;
            const PixelSquare square = clippedMarker(dab.rect, W, H);
            if (!square.isEmpty())
                visit(square);
        }
        const PaintedMark wanted = keep ? PaintedMark::Keep : PaintedMark::Remove;
        for (int x = 0; x < pictureW; ++x) {
            for (int y = 0; y < pictureH; ++y) {
                if (paintedMark(pixel(x, y)) == wanted)
                    visit(PixelSquare{x, x + 1, y, y + 1});
            }
        }
        forEachPoint(*(keep ? keepPoints : removePoints), visit);
    }

    // The same squares with the marker picture read row by row, for work that does not
    // depend on the order.
    template<typename Visit>
    void forEachAnyOrder(bool keep, Visit visit) const
    {
        const qint64 units = unitCount();
        forUnits(0, units, [&](bool isKeep, const PixelSquare &square) {
            if (isKeep == keep)
                visit(square);
        });
    }

    // The squares of both kinds as units of work that can be split: each dab, each row of
    // the marker picture and each point is one unit. visit(keep, square).
    qint64 unitCount() const
    {
        return dabs->size() + pictureH + keepPoints->size() + removePoints->size();
    }
    template<typename Visit>
    void forUnits(qint64 begin, qint64 end, Visit visit) const
    {
        qint64 unit = begin;
        for (; unit < end && unit < dabs->size(); ++unit) {
            const MarkerDab &dab = dabs->at(unit);
            const PixelSquare square = dab.edge ? PixelSquare() : clippedMarker(dab.rect, W, H);
            if (!square.isEmpty())
                visit(dab.keep, square);
        }
        qint64 first = dabs->size();
        for (; unit < end && unit < first + pictureH; ++unit) {
            const int y = int(unit - first);
            for (int x = 0; x < pictureW; ++x) {
                const PaintedMark mark = paintedMark(pixel(x, y));
                if (mark != PaintedMark::None)
                    visit(mark == PaintedMark::Keep, PixelSquare{x, x + 1, y, y + 1});
            }
        }
        first += pictureH;
        for (; unit < end && unit < first + keepPoints->size(); ++unit)
            visitPoint(keepPoints->at(unit - first), true, visit);
        first += keepPoints->size();
        for (; unit < end && unit < first + removePoints->size(); ++unit)
            visitPoint(removePoints->at(unit - first), false, visit);
    }

private:
    QRgb pixel(int x, int y) const
    {
        return reinterpret_cast<const QRgb *>(picture.constScanLine(y))[x];
    }

    bool inside(const QPoint &p) const { return uint(p.x()) < uint(W) && uint(p.y()) < uint(H); }

    template<typename Visit>
    void forEachPoint(const QList<QPoint> &points, Visit visit) const
    {
        for (const QPoint &p : points) {
            if (inside(p))
                visit(PixelSquare{p.x(), p.x() + 1, p.y(), p.y() + 1});
        }
    }

    template<typename Visit>
    void visitPoint(const QPoint &p, bool keep, Visit visit) const
    {
        if (inside(p))
            visit(keep, PixelSquare{p.x(), p.x() + 1, p.y(), p.y() + 1});
    }

    int W;
    int H;
    const QList<MarkerDab> *dabs;
    QImage picture; // straight ARGB, or null
    int pictureW = 0; // the part of the picture that lies on the W x H one
    int pictureH = 0;
    const QList<QPoint> *keepPoints;
    const QList<QPoint> *removePoints;
};
