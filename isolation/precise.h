#pragma once

#include <QImage>
#include <QList>

#include "isolation/isolation.h"
#include "isolation/markers.h"

// The precise isolation: a graph cut of the photo itself between the keep and remove marks.
//
//   Y. Boykov and M.-P. Jolly, "Interactive Graph Cuts for Optimal Boundary & Region
//   Segmentation of Objects in N-D Images", ICCV 2001: the marks as hard constraints, a
//   region term per pixel and a boundary term between neighbours, solved as a minimum cut.
//   C. Rother, V. Kolmogorov and A. Blake, "GrabCut", SIGGRAPH 2004: the region term from
//   Gaussian mixtures of the keep and remove colours, refitted from each cut in turn, and
//   the boundary term gamma * exp(-beta * |colour difference|^2) from the photo's own edges.
//   V. Gulshan, C. Rother, A. Criminisi, A. Blake and A. Zisserman, "Geodesic Star Convexity
//   for Interactive Image Segmentation", CVPR 2010: every kept pixel must be joined to a keep
//   mark by its geodesic shortest path, all of it kept, so that no mark can switch on a
//   region far from the keep marks.
//   H. Lombaert, Y. Sun, L. Grady and C. Xu, "A Multilevel Banded Graph Cuts Method for Fast
//   Image Segmentation", ICCV 2005: the photo is cut on a reduced copy first, then only in a
//   band along that outline with smaller blocks, and so on down to single pixels, so the cost
//   grows with the outline, not the area.
//
// Reads the same marks as the colour-cluster isolation (a pixel under both kinds of mark is
// a remove pixel) and returns the keep pixels in the same form: y * W + x, column by column.
// The result is the same on every run and every thread count. Without a keep mark on the
// photo nothing is kept. Stages reported: "seeds", "coarse", "cut", "band", "keep". A run
// that `hooks.cancelled` stops between its stages returns nothing.
QList<qint32> preciseKeepPixels(const QImage &photo, const MarkerSet &markers,
                                const IsolationHooks &hooks = {});

// The same, keeping what the stages worked on: on the reduced copy, the keep share of the
// final colour models (255 keep, 0 remove) and the geodesic distance from the keep marks
// (0 at the marks, 255 at the farthest); at full size the decision: 0 remove and 1 keep
// taken from the reduced cut, 2 remove and 3 keep settled in a band with smaller blocks.
// All 8-bit with the grey colour table.
struct PreciseStages
{
    QImage colourShare;
    QImage distance;
    QImage decision;
    QList<qint32> keepPixels;
};
PreciseStages preciseByStages(const QImage &photo, const MarkerSet &markers, const IsolationHooks &hooks = {});
